// The action descriptor as built into the module: byte for byte the file
// plugin/descriptor.xml, its text form (CR LF lines, no markup beyond plain
// start and end tags), its element tree and the values the host reads.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../plugin/descriptor.h"
#include "test_files.h"

namespace {

// The descriptor is 3603 bytes when its four maker texts (Author, Email,
// Web, Copyright) take 126 bytes together, and as many more or fewer as
// they take beyond that.  Ours, "Qelv developers", "qelv@example.org",
// "www.example.org/qelv" and "Copyright (c) 2026 Qelv developers", take 85.
const int expected_length = 3603 - 126 + 85;
const int expected_lines = 135;

std::string stored_text() {
  return std::string(reinterpret_cast<const char*>(stored_descriptor), stored_descriptor_length);
}

// The lines without their CR LF.
std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) break;
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  lines.push_back(text.substr(start));
  return lines;
}

// One line of the descriptor: a start tag, an end tag, or a leaf (start
// tag, text, end tag of the same name).
struct line_form {
  enum { start, end, leaf, other } kind;
  std::string name;
  std::string text;
};

line_form read_line(const std::string& line) {
  line_form form{line_form::other, "", ""};
  if (line.size() < 3 || line[0] != '<' || line.back() != '>') return form;
  if (line[1] == '/') {
    form.kind = line_form::end;
    form.name = line.substr(2, line.size() - 3);
    return form;
  }
  size_t close = line.find('>');
  form.name = line.substr(1, close - 1);
  if (close == line.size() - 1) {
    form.kind = line_form::start;
    return form;
  }
  std::string tail = "</" + form.name + ">";
  if (line.size() < close + 1 + tail.size() || line.compare(line.size() - tail.size(), tail.size(), tail) != 0)
    return form;
  form.kind = line_form::leaf;
  form.text = line.substr(close + 1, line.size() - close - 1 - tail.size());
  return form;
}

// Every leaf as its path from the root ("ActionTemplates/Action/Name") and
// its text, in document order; children lists of containers by path.
struct element_tree {
  std::vector<std::pair<std::string, std::string>> leaves;
  std::vector<std::pair<std::string, std::vector<std::string>>> children;
  std::string error;  // empty when the lines nest properly
};

element_tree read_tree(const std::vector<std::string>& lines) {
  element_tree tree;
  std::vector<std::string> names;      // open containers, outermost first
  std::vector<size_t> child_lists;     // their entries in tree.children
  auto path_of = [&](const std::string& last) {
    std::string path;
    for (const std::string& n : names) path += n + "/";
    return path + last;
  };
  for (size_t i = 0; i < lines.size() && tree.error.empty(); i++) {
    line_form form = read_line(lines[i]);
    if (form.kind == line_form::other || form.name.empty()) {
      tree.error = "line " + std::to_string(i + 1) + " is not one element: " + lines[i];
    } else if (names.empty() && i > 0) {
      tree.error = "line " + std::to_string(i + 1) + " lies after the root";
    } else if (form.kind == line_form::end) {
      if (names.empty() || names.back() != form.name) {
        tree.error = "line " + std::to_string(i + 1) + " closes " + form.name + " out of turn";
      } else {
        names.pop_back();
        child_lists.pop_back();
      }
    } else {
      if (!child_lists.empty()) tree.children[child_lists.back()].second.push_back(form.name);
      if (form.kind == line_form::leaf) {
        tree.leaves.emplace_back(path_of(form.name), form.text);
      } else {
        tree.children.emplace_back(path_of(form.name), std::vector<std::string>{});
        names.push_back(form.name);
        child_lists.push_back(tree.children.size() - 1);
      }
    }
  }
  if (tree.error.empty() && !names.empty()) tree.error = "unclosed " + names.back();
  return tree;
}

std::vector<std::string> leaf_texts(const element_tree& tree, const std::string& path) {
  std::vector<std::string> texts;
  for (const auto& [p, text] : tree.leaves)
    if (p == path) texts.push_back(text);
  return texts;
}

std::vector<std::vector<std::string>> children_of(const element_tree& tree, const std::string& path) {
  std::vector<std::vector<std::string>> lists;
  for (const auto& [p, names] : tree.children)
    if (p == path) lists.push_back(names);
  return lists;
}

using texts = std::vector<std::string>;

}  // namespace

TEST(StoredDescriptor, IsTheSourceFileByteForByte) {
  EXPECT_EQ(stored_descriptor_length, expected_length);
  std::string path = env_or_empty("QELV_DESCRIPTOR_XML");
  ASSERT_FALSE(path.empty()) << "QELV_DESCRIPTOR_XML is not set";
  ASSERT_TRUE(file_exists(path)) << path;
  bytes source = read_file(path);
  EXPECT_EQ(source.size(), static_cast<size_t>(stored_descriptor_length));
  EXPECT_EQ(std::string(source.begin(), source.end()), stored_text());
}

TEST(StoredDescriptor, LegalNoticeFollowsDirectly) {
  // The length is the distance to the notice, and the module's copy stops
  // at a zero byte: there must be none inside the block.
  std::string notice = "Qelv descriptor. Not for redistribution outside Qelv.";
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(stored_descriptor) + stored_descriptor_length),
            notice);
  EXPECT_EQ(stored_text().find('\0'), std::string::npos);
}

TEST(StoredDescriptor, TextForm) {
  std::string text = stored_text();
  for (size_t i = 0; i < text.size(); i++) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    bool line_end = c == '\r' || c == '\n';
    EXPECT_TRUE((c >= 0x20 && c < 0x7f) || line_end) << "byte " << i << " is " << int(c);
    // CR only before LF, LF only after CR.
    EXPECT_TRUE(c != '\r' || (i + 1 < text.size() && text[i + 1] == '\n')) << "lone CR at " << i;
    EXPECT_TRUE(c != '\n' || (i > 0 && text[i - 1] == '\r')) << "lone LF at " << i;
  }
  EXPECT_EQ(text.find("<?"), std::string::npos) << "XML declaration";
  EXPECT_EQ(text.find("<!"), std::string::npos) << "comment or declaration";
  EXPECT_EQ(text.find("=\""), std::string::npos) << "attribute";
  EXPECT_EQ(text.find('&'), std::string::npos) << "entity escape";
  EXPECT_EQ(text.find("/>"), std::string::npos) << "self-closing tag";

  std::vector<std::string> lines = split_lines(text);
  EXPECT_EQ(lines.size(), static_cast<size_t>(expected_lines));
  EXPECT_EQ(lines.front(), "<ActionTemplates>");
  EXPECT_EQ(lines.back(), "</ActionTemplates>");
  EXPECT_TRUE(text.ends_with("\r\n</ActionTemplates>"));
  // No indentation and no blank lines: every line starts with a tag.
  for (size_t i = 0; i < lines.size(); i++)
    EXPECT_TRUE(lines[i].starts_with("<")) << "line " << i + 1 << ": \"" << lines[i] << "\"";
}

TEST(StoredDescriptor, ElementTree) {
  element_tree tree = read_tree(split_lines(stored_text()));
  ASSERT_EQ(tree.error, "");
  EXPECT_EQ(children_of(tree, "ActionTemplates"),
            (std::vector<texts>{{"Extended", "Action", "Action"}}));
  EXPECT_EQ(children_of(tree, "ActionTemplates/Extended"),
            (std::vector<texts>{{"Version1", "Version2", "Version3", "Version4", "Action", "Action",
                                 "Action", "Name", "Description", "Author", "Email", "Web",
                                 "Copyright", "License", "Requirements"}}));
  texts with_args = {"ReturnValueDescription", "Example", "Note", "Arg", "Arg", "Arg"};
  EXPECT_EQ(children_of(tree, "ActionTemplates/Extended/Action"),
            (std::vector<texts>{with_args, with_args, {"ReturnValueDescription", "Example", "Note"}}));
  EXPECT_EQ(children_of(tree, "ActionTemplates/Extended/Action/Arg"), std::vector<texts>(6, {"Note"}));

  texts action = {"Name", "Description", "ReturnValueType", "Arguments"};
  EXPECT_EQ(children_of(tree, "ActionTemplates/Action"), std::vector<texts>(2, action));
  EXPECT_EQ(children_of(tree, "ActionTemplates/Action/Arguments"),
            std::vector<texts>(2, {"Arg", "Arg", "Arg"}));
  texts arg = {"Name", "Description", "Type", "Default", "Required", "EasyMode"};
  EXPECT_EQ(children_of(tree, "ActionTemplates/Action/Arguments/Arg"), std::vector<texts>(6, arg));
  EXPECT_EQ(children_of(tree, "ActionTemplates/Action/Arguments/Arg/EasyMode"),
            std::vector<texts>(6, {"Default", "DataType", "Constraints"}));
}

TEST(StoredDescriptor, ActionsAndArguments) {
  element_tree tree = read_tree(split_lines(stored_text()));
  ASSERT_EQ(tree.error, "");
  const std::string arg = "ActionTemplates/Action/Arguments/Arg/";
  EXPECT_EQ(leaf_texts(tree, "ActionTemplates/Action/Name"), (texts{"Qelv.Encrypt", "Qelv.Decrypt"}));
  EXPECT_EQ(leaf_texts(tree, "ActionTemplates/Action/ReturnValueType"), (texts{"string", "string"}));
  EXPECT_EQ(leaf_texts(tree, arg + "Name"), (texts{"File", "Output", "Key", "File", "Output", "Key"}));
  EXPECT_EQ(leaf_texts(tree, arg + "Required"), texts(6, "1"));
  EXPECT_EQ(leaf_texts(tree, arg + "Type"), texts(6, "string"));
  // The key's default is a Lua string literal: 10 letters in double quotes.
  texts defaults = leaf_texts(tree, arg + "Default");
  EXPECT_EQ(defaults, (texts{"", "", "\"pumpkinjar\"", "", "", "\"pumpkinjar\""}));
  ASSERT_EQ(defaults.size(), 6u);
  EXPECT_EQ(defaults[2].size(), 12u);
  EXPECT_EQ(leaf_texts(tree, arg + "EasyMode/Default"), texts(6, ""));
  EXPECT_EQ(leaf_texts(tree, arg + "EasyMode/DataType"), texts(6, "string"));
  EXPECT_EQ(leaf_texts(tree, arg + "EasyMode/Constraints"), texts(6, "none"));
}

TEST(StoredDescriptor, ExtendedEntries) {
  element_tree tree = read_tree(split_lines(stored_text()));
  ASSERT_EQ(tree.error, "");
  const std::string ext = "ActionTemplates/Extended/";
  EXPECT_EQ(leaf_texts(tree, ext + "Version1"), texts{"1"});
  EXPECT_EQ(leaf_texts(tree, ext + "Version4"), texts{"0"});
  // Lua source text: each path literal holds two backslash characters.
  texts examples = leaf_texts(tree, ext + "Action/Example");
  EXPECT_EQ(examples,
            (texts{"local success = Qelv.Encrypt(_SourceFolder..\"\\\\license.txt\", "
                   "_SourceFolder..\"\\\\license.dat\", \"pumpkinjar\");",
                   "local success = Qelv.Decrypt(_SourceFolder..\"\\\\license.dat\", "
                   "_SourceFolder..\"\\\\license.txt\", \"pumpkinjar\");",
                   "Qelv.OnExit();"}));
  EXPECT_EQ(leaf_texts(tree, ext + "Action/Arg/Note"),
            (texts{"Use a full path!", "Use a full path!", "", "Use a full path!", "Use a full path!", ""}));
  EXPECT_EQ(leaf_texts(tree, ext + "Action/Note"),
            (texts{"", "", "Use this action in the On Shutdown event."}));
  EXPECT_EQ(leaf_texts(tree, ext + "Name"), texts{"Qelv Action Plugin"});
  EXPECT_EQ(leaf_texts(tree, ext + "Web"), texts{"www.example.org/qelv"});
  EXPECT_EQ(leaf_texts(tree, ext + "License"), texts{"Commercial"});
}
