// The work of a run's batch: its items worked by workers and reported to
// the run's face in their order.
#pragma once

struct cli_run;

// Works the batch's items and reports them; returns the run's status.
int cli_work(cli_run* run);
