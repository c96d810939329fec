// Whole-file encryption and decryption: the format byte for byte, round
// trips, damage, refusals with Output untouched, and Output handling.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "../engine/bytes.h"
#include "../engine/cbc.h"
#include "../engine/engine.h"
#include "../engine/engine_call.h"
#include "../engine/file_format.h"
#include "../runtime/runtime.h"
#include "test_files.h"

class Engine : public testing::Test {
 protected:
  std::string dir = make_temp_folder();
  void TearDown() override {
    EXPECT_EQ(rt_open_file_count(), 0) << "a file was left open";
    remove_tree(dir);
  }
  std::string path(const char* name) { return dir + name; }
  std::string enc(const std::string& in, const std::string& out, const char* key = "pumpkinjar") {
    return encrypt_file(in.c_str(), out.c_str(), key);
  }
  std::string dec(const std::string& in, const std::string& out, const char* key = "pumpkinjar") {
    engine_call call = {};
    call.use_worker = use_worker;
    return decrypt_file_in(&call, in.c_str(), out.c_str(), key);
  }
  // decrypt_file's verdict, in memory, as the tool asks for it.
  const char* verify(const std::string& file, const char* key = "pumpkinjar") {
    engine_call call = {};
    call.use_worker = use_worker;
    return verify_file_in(&call, file.c_str(), key);
  }
  bool use_worker = false;  // as the tool calls the engine
  // Encrypts content under key, returns the encrypted bytes.
  bytes encrypted(const bytes& content, const char* key = "pumpkinjar") {
    write_file(path("plain"), content);
    EXPECT_EQ(enc(path("plain"), path("enc"), key), result_ok);
    return read_file(path("enc"));
  }
  // Decrypts the given encrypted bytes; returns the result text.
  std::string decrypt_bytes(const bytes& file, const char* key = "pumpkinjar") {
    write_file(path("damaged"), file);
    return dec(path("damaged"), path("out"), key);
  }
};

// The texts scripts compare results with, spelt out here and nowhere else in
// the C++ tests: changing one must fail this test.
TEST(ResultTexts, AreExactlyTheOnesScriptsSee) {
  EXPECT_STREQ(result_ok, "OK");
  EXPECT_STREQ(result_refused, "Error, no valid key, filename or file doesn't exist!");
  EXPECT_STREQ(result_crc_failure, "CRC Failure, data may be corrupt");
  EXPECT_STREQ(result_read_error, "Error, could not read the file!");
  EXPECT_STREQ(result_write_error, "Error, could not write the output file!");
  EXPECT_STREQ(result_too_large, "Error, the file is too large!");
  EXPECT_STREQ(result_not_encrypted, "Error, not a valid encrypted file!");
}

TEST_F(Engine, RoundTripsAtBlockBoundariesAndLarger) {
  for (size_t n : {2u, 7u, 8u, 9u, 15u, 16u, 17u, 4099u, 1048576u + 3u}) {
    bytes plain = pattern_bytes(n, static_cast<uint32_t>(n));
    bytes file = encrypted(plain);
    size_t pad = (8 - n % 8) % 8;
    ASSERT_EQ(file.size(), 23 + n + pad) << n;
    ASSERT_EQ(dec(path("enc"), path("back")), result_ok) << n;
    ASSERT_EQ(read_file(path("back")), plain) << n;
  }
}

TEST_F(Engine, HeaderFields) {
  bytes plain = pattern_bytes(9, 7);
  bytes file = encrypted(plain);
  ASSERT_EQ(file.size(), 39u);
  file_header h = header_load(file.data());
  EXPECT_EQ(h.plain_size, 9);
  EXPECT_EQ(h.pad_count, 7);
  EXPECT_EQ(h.plain_crc, rt_crc32(plain.data(), 9));
  EXPECT_EQ(file[21], 2);
  EXPECT_EQ(file[22], 0);
  // The iv is r1 * r2 - 1 for r1, r2 below 2^31: either all ones or below 2^62.
  uint64_t iv = 0;
  memcpy(&iv, h.iv, 8);
  EXPECT_TRUE(iv == ~uint64_t{0} || iv < (uint64_t{1} << 62));

  EXPECT_EQ(encrypted(bytes(2, 'x')).size(), 31u);
  EXPECT_EQ(header_load(read_file(path("enc")).data()).pad_count, 6);
  EXPECT_EQ(encrypted(bytes(8, 'x')).size(), 31u);
  EXPECT_EQ(header_load(read_file(path("enc")).data()).pad_count, 0);
}

TEST_F(Engine, CiphertextIsCbcUnderTheStoredIv) {
  bytes plain = pattern_bytes(21, 3);
  bytes file = encrypted(plain, "0123456789abcdefIGNORED");
  file_header h = header_load(file.data());
  bytes body(plain);
  body.resize(24, 0);
  cbc_encrypt(cipher_key_from_string("0123456789abcdef"), h.iv, body.data(), 3);
  EXPECT_EQ(bytes(file.begin() + 23, file.end()), body);
}

TEST_F(Engine, SameSourceTwiceDiffersOnlyInIvAndBody) {
  bytes plain = pattern_bytes(100, 1);
  bytes a = encrypted(plain), b = encrypted(plain);
  ASSERT_EQ(a.size(), b.size());
  EXPECT_EQ(bytes(a.begin(), a.begin() + 9), bytes(b.begin(), b.begin() + 9));
  EXPECT_EQ(bytes(a.begin() + 17, a.begin() + 23), bytes(b.begin() + 17, b.begin() + 23));
  EXPECT_NE(bytes(a.begin() + 9, a.begin() + 17), bytes(b.begin() + 9, b.begin() + 17));
}

TEST_F(Engine, KeyRules) {
  bytes plain = pattern_bytes(64, 2);
  encrypted(plain, "0123456789abcdef-first");
  EXPECT_EQ(dec(path("enc"), path("out"), "0123456789abcdef-other"), result_ok);
  EXPECT_EQ(read_file(path("out")), plain);
  EXPECT_EQ(dec(path("enc"), path("out2"), "0123456789abcde"), result_crc_failure);

  encrypted(plain, " key ");
  EXPECT_EQ(dec(path("enc"), path("k1"), "key"), result_crc_failure);
  EXPECT_EQ(dec(path("enc"), path("k2"), " key"), result_crc_failure);
  EXPECT_EQ(dec(path("enc"), path("k3"), " key "), result_ok);
  encrypted(plain, "\tkey");  // a tab is a key byte, not trimmed
  EXPECT_EQ(dec(path("enc"), path("k4"), "\tkey"), result_ok);
  EXPECT_FALSE(file_exists(path("k1")));
  EXPECT_FALSE(file_exists(path("k2")));
}

TEST_F(Engine, WrongKeyAndDamageLeaveOutputAsItWas) {
  bytes plain = pattern_bytes(300, 4);
  bytes good = encrypted(plain);
  const std::string crc = result_crc_failure;
  EXPECT_EQ(dec(path("enc"), path("out"), "wrong"), crc);
  EXPECT_FALSE(file_exists(path("out")));
  write_file(path("out"), bytes(5, 'o'));
  EXPECT_EQ(dec(path("enc"), path("out"), "wrong"), crc);
  EXPECT_EQ(read_file(path("out")), bytes(5, 'o'));

  for (int byte = 9; byte < 21; byte++) {  // every bit of iv and plain_crc
    for (int bit = 0; bit < 8; bit++) {
      bytes bad = good;
      bad[byte] ^= static_cast<uint8_t>(1 << bit);
      ASSERT_EQ(decrypt_bytes(bad), crc) << byte << ":" << bit;
    }
  }
  for (size_t at : {23u, 24u, 100u, 322u}) {
    bytes bad = good;
    bad[at] ^= 0x10;
    EXPECT_EQ(decrypt_bytes(bad), crc) << at;
  }
  EXPECT_EQ(read_file(path("out")), bytes(5, 'o'));
}

TEST_F(Engine, CutShortOverLongAndConstantBytes) {
  bytes plain = pattern_bytes(64, 5);
  bytes good = encrypted(plain);
  bytes cut(good.begin(), good.end() - 8);
  EXPECT_EQ(decrypt_bytes(cut), result_crc_failure);
  EXPECT_FALSE(file_exists(path("out")));
  // Larger bodies are read and checked a piece at a time: a cut or a changed
  // byte deep inside one is still caught.
  bytes big_plain = pattern_bytes(700000, 12);
  bytes big = encrypted(big_plain);
  EXPECT_EQ(decrypt_bytes(bytes(big.begin(), big.begin() + 23 + 600001)),
            result_crc_failure);
  bytes flipped = big;
  flipped[23 + 524288 + 17] ^= 0x01;
  EXPECT_EQ(decrypt_bytes(flipped), result_crc_failure);
  EXPECT_FALSE(file_exists(path("out")));
  EXPECT_EQ(decrypt_bytes(big), result_ok);
  EXPECT_EQ(read_file(path("out")), big_plain);
  std::remove(path("out").c_str());
  bytes header_only(good.begin(), good.begin() + 23);
  EXPECT_EQ(decrypt_bytes(header_only), result_crc_failure);

  bytes longer = good;
  longer.insert(longer.end(), 1000, 0xEE);
  EXPECT_EQ(decrypt_bytes(longer), result_ok);
  EXPECT_EQ(read_file(path("out")), plain);

  bytes constants = good;
  constants[21] = 0x77;
  constants[22] = 0x99;
  EXPECT_EQ(decrypt_bytes(constants), result_ok);
  EXPECT_EQ(read_file(path("out")), plain);
}

TEST_F(Engine, PadCountBeyondTheBlocksIsLeftToTheCrc) {
  bytes plain = pattern_bytes(16, 6);
  bytes good = encrypted(plain);
  // pad_count 3 makes the data length 19: the three bytes past the last whole
  // block are never deciphered, and the CRC over the first 16 still matches.
  bytes padded = good;
  padded[8] = 3;
  EXPECT_EQ(decrypt_bytes(padded), result_ok);
  EXPECT_EQ(read_file(path("out")), plain);
}

TEST_F(Engine, HeadersThatDoNotHoldTogetherAreRefused) {
  bytes good = encrypted(pattern_bytes(40, 7));
  auto with_size = [&](int64_t size, int8_t pad) {
    bytes b = good;
    file_header h = header_load(b.data());
    h.plain_size = size;
    h.pad_count = pad;
    header_store(h, b.data());
    return decrypt_bytes(b);
  };
  const std::string invalid = result_not_encrypted;
  const std::string crc = result_crc_failure;
  EXPECT_EQ(with_size(0, 0), invalid);
  EXPECT_EQ(with_size(-1, 0), invalid);
  EXPECT_EQ(with_size(INT64_MIN, 7), invalid);
  EXPECT_EQ(with_size(40, -1), invalid);   // plain_size beyond the data length
  EXPECT_EQ(with_size(1, -1), invalid);    // data length 0
  EXPECT_EQ(with_size(40, -128), invalid);
  // Claims far beyond the file: the missing bytes count as zeros and the CRC
  // decides, however large the claim, with no overflow at the top.
  EXPECT_EQ(with_size(int64_t{1} << 31, 0), crc);
  EXPECT_EQ(with_size(INT64_MAX, 127), crc);
  EXPECT_EQ(with_size(INT64_MAX, 0), crc);
  EXPECT_EQ(with_size(INT32_MAX, 1), crc);
  EXPECT_FALSE(file_exists(path("out")));
  // A pad_count that the file holds is left to the CRC, which here still
  // covers the intact plain bytes.
  EXPECT_EQ(with_size(40, 127), result_ok);
  EXPECT_EQ(read_file(path("out")).size(), 40u);
  remove_tree(path("out"));
  // A file shorter than its header reads as zeros past its end.
  EXPECT_EQ(decrypt_bytes(bytes(5, 0)), invalid);
  EXPECT_EQ(decrypt_bytes(bytes(5, 1)), crc);
  EXPECT_FALSE(file_exists(path("out")));
}

// The body's bytes as the decryption sees them: the file's, then zeros up to
// the data length, deciphered one block at a time by the reference path.
static bytes reference_plain(const bytes& file, const char* key) {
  file_header h = header_load(file.data());
  size_t data_length = static_cast<size_t>(h.plain_size + h.pad_count);
  bytes body(file.begin() + FILE_HEADER_SIZE, file.end());
  body.resize(data_length, 0);
  cbc_decrypt_reference(cipher_key_from_string(key), h.iv, body.data(),
                        static_cast<int32_t>(data_length / 8));
  for (size_t i = data_length / 8 * 8; i < data_length; i++) body[i] = 0;
  body.resize(static_cast<size_t>(h.plain_size));
  return body;
}

TEST_F(Engine, ABodyCutShortIsCheckedInClosedFormAndWrittenWholeWhenItMatches) {
  const int64_t piece = ENGINE_PIECE_BYTES;
  bytes good = encrypted(pattern_bytes(2 * piece + 1000, 21));
  // Headers claiming more than the file holds, their CRC set to what the
  // zero-extended body gives, so that "OK" is the right answer: the missing
  // part's CRC is then computed without reading or writing it.
  struct claim { int64_t plain_size; int8_t pad; size_t kept; };
  // Bodies that end on a piece's end are read on into the next piece; each
  // case runs on one thread and with the worker.
  const claim claims[] = {{3 * piece + 5, 3, 1000},
                          {piece * 2 + 13, 0, 517},
                          {9, 7, 1},
                          {100000, 4, 0},
                          {piece * 3, 0, static_cast<size_t>(piece)},
                          {piece * 3 + 1, 7, static_cast<size_t>(2 * piece)}};
  for (int run = 0; run < 12; run++) {
    use_worker = run >= 6;
    const claim c = claims[run % 6];
    bytes file(good.begin(), good.begin() + FILE_HEADER_SIZE + c.kept);
    file_header h = header_load(file.data());
    h.plain_size = c.plain_size;
    h.pad_count = c.pad;
    header_store(h, file.data());
    bytes expected = reference_plain(file, "pumpkinjar");
    h.plain_crc = rt_crc32(expected.data(), static_cast<int32_t>(expected.size()));
    header_store(h, file.data());
    write_file(path("short"), file);
    SCOPED_TRACE(c.plain_size);
    EXPECT_STREQ(verify(path("short")), result_ok);
    ASSERT_EQ(dec(path("short"), path("out")), result_ok);
    EXPECT_EQ(read_file(path("out")), expected);
    h.plain_crc ^= 1;
    header_store(h, file.data());
    EXPECT_EQ(decrypt_bytes(file), result_crc_failure);
  }
}

TEST_F(Engine, HugeClaimsAndForeignFilesComeBackQuicklyLeavingNothing) {
  // 123 bytes whose header claims 2^62 bytes, and a text file of 2,600.
  bytes claim = encrypted(pattern_bytes(100, 5));
  claim.resize(123);
  file_header h = header_load(claim.data());
  h.plain_size = int64_t{1} << 62;
  header_store(h, claim.data());
  ASSERT_EQ(claim.size(), 123u);
  write_file(path("claim"), claim);
  bytes text;
  while (text.size() < 2600) for (char c : std::string("Plain words, not sealed. ")) text.push_back(c);
  text.resize(2600);
  write_file(path("text.txt"), text);
  std::vector<std::string> before = folder_names(dir);
  for (const char* name : {"claim", "text.txt"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(dec(path(name), path("out")), result_crc_failure);
    EXPECT_EQ(dec(path(name), path(name)), result_crc_failure);
    EXPECT_STREQ(verify(path(name)), result_crc_failure);
  }
  EXPECT_EQ(read_file(path("claim")), claim);
  EXPECT_EQ(read_file(path("text.txt")), text);
  EXPECT_EQ(folder_names(dir), before);
}

TEST_F(Engine, RefusedArgumentsTouchNothing) {
  const std::string refused = result_refused;
  write_file(path("one"), bytes(1, 'a'));
  write_file(path("empty"), {});
  write_file(path("two"), bytes(2, 'a'));
  write_file(path("out"), bytes(3, 'k'));
  EXPECT_EQ(enc(path("two"), path("out"), ""), refused);
  EXPECT_EQ(enc(path("two"), path("out"), "   "), refused);
  EXPECT_EQ(enc("", path("out")), refused);
  EXPECT_EQ(enc(path("missing"), path("out")), refused);
  EXPECT_EQ(enc(path("empty"), path("out")), refused);
  EXPECT_EQ(enc(path("one"), path("out")), refused);
  EXPECT_EQ(enc(dir, path("out")), refused);
  EXPECT_EQ(enc(path("two*"), path("out")), refused);
  EXPECT_EQ(enc(path("two"), path("new"), " "), refused);
  EXPECT_EQ(dec(path("two"), path("out"), ""), refused);
  EXPECT_EQ(dec(path("two"), path("out"), "  "), refused);
  EXPECT_EQ(dec("", path("out")), refused);
  EXPECT_EQ(dec("   ", path("out")), refused);
  EXPECT_EQ(dec(path("missing"), path("out")), refused);
  EXPECT_EQ(dec(path("empty"), path("out")), refused);
  EXPECT_EQ(dec(dir, path("out")), refused);
  EXPECT_EQ(dec(path("two"), path("new"), ""), refused);
  EXPECT_EQ(read_file(path("out")), bytes(3, 'k'));
  EXPECT_FALSE(file_exists(path("new")));
  EXPECT_FALSE(file_exists(path("missing")));
}

TEST_F(Engine, InPlaceAndOverExistingOutputs) {
  bytes plain = pattern_bytes(1000, 8);
  write_file(path("f"), plain);
  EXPECT_EQ(enc(path("f"), path("f")), result_ok);
  EXPECT_EQ(read_file(path("f")).size(), 23u + 1000);
  EXPECT_EQ(dec(path("f"), path("f")), result_ok);
  EXPECT_EQ(read_file(path("f")), plain);

  write_file(path("long"), bytes(5000, 'L'));
  EXPECT_EQ(enc(path("f"), path("long")), result_ok);
  EXPECT_EQ(read_file(path("long")).size(), 1023u);
  write_file(path("short"), bytes(10, 'S'));
  EXPECT_EQ(enc(path("f"), path("short")), result_ok);
  EXPECT_EQ(read_file(path("short")).size(), 1023u);

  write_file(path("plain-long"), bytes(5000, 'P'));
  EXPECT_EQ(dec(path("long"), path("plain-long")), result_ok);
  EXPECT_EQ(read_file(path("plain-long")), plain);
  write_file(path("plain-short"), bytes(3, 'P'));
  EXPECT_EQ(dec(path("short"), path("plain-short")), result_ok);
  EXPECT_EQ(read_file(path("plain-short")), plain);
}

TEST_F(Engine, OutputThatCannotBeOpenedIsAnErrorAndSourceIsKept) {
  bytes plain = pattern_bytes(50, 9);
  write_file(path("plain"), plain);
  const std::string write_error = result_write_error;
  EXPECT_EQ(enc(path("plain"), ""), write_error);
  EXPECT_EQ(enc(path("plain"), dir), write_error);
  EXPECT_EQ(enc(path("plain"), path("no-such-folder/out")), write_error);
  EXPECT_EQ(enc(path("plain"), path("enc")), result_ok);
  EXPECT_EQ(dec(path("enc"), dir), write_error);
  EXPECT_EQ(dec(path("enc"), path("no-such-folder/out")), write_error);
  EXPECT_EQ(read_file(path("plain")), plain);
}

// A call leaves nothing of its key in the stack it used: neither the key's
// 16 bytes nor its round keys.
TEST_F(Engine, CallsLeaveNoKeyInTheStack) {
  const char key_text[] = "Vq8#Kd2!Wm9$Xr4&";  // 16 bytes: the cipher key is its bytes
  uint8_t round_keys[8];
  {
    xtea_schedule s = xtea_make_schedule(cipher_key_from_string(key_text));
    store_le32(round_keys, s.round_key[6]);
    store_le32(round_keys + 4, s.round_key[7]);
  }
  write_file(path("p"), pattern_bytes(3000, 21));
  ASSERT_EQ(enc(path("p"), path("e"), key_text), result_ok);
  EXPECT_FALSE(stack_below_holds(key_text, 16)) << "after encrypt_file";
  EXPECT_FALSE(stack_below_holds(round_keys, 8)) << "after encrypt_file";
  ASSERT_EQ(dec(path("e"), path("d"), key_text), result_ok);
  EXPECT_FALSE(stack_below_holds(key_text, 16)) << "after decrypt_file";
  EXPECT_FALSE(stack_below_holds(round_keys, 8)) << "after decrypt_file";
  ASSERT_STREQ(verify(path("e"), key_text), result_ok);
  EXPECT_FALSE(stack_below_holds(key_text, 16)) << "after verify_file";
  EXPECT_FALSE(stack_below_holds(round_keys, 8)) << "after verify_file";
}

TEST_F(Engine, FilesWrittenEarlierStillDecrypt) {
  // A file encrypted by an earlier build under the key "pumpkinjar".
  std::string data = env_or_empty("QELV_TEST_DATA");
  ASSERT_FALSE(data.empty());
  bytes expected = read_file(data + "/sample.txt");
  ASSERT_EQ(expected.size(), 1234u);
  EXPECT_EQ(dec(data + "/sample.txt.qelv", path("out")), result_ok);
  EXPECT_EQ(read_file(path("out")), expected);
}

class ReadOnlyMedia : public Engine {};

TEST_F(ReadOnlyMedia, SourceOnReadOnlyMediaEncryptsAndDecrypts) {
  std::string media = env_or_empty("QELV_TEST_MEDIA");
  if (media.empty()) GTEST_SKIP() << "QELV_TEST_MEDIA is not set";
  std::string plain = media + "/sample.txt", sealed = media + "/sample.txt.qelv";
  // The media really is read-only: writing there fails.
  EXPECT_EQ(enc(plain, media + "/new"), result_write_error);
  bytes before = read_file(sealed);
  EXPECT_EQ(enc(plain, plain), result_write_error);
  EXPECT_EQ(enc(plain, sealed), result_write_error);
  EXPECT_EQ(dec(sealed, plain), result_write_error);
  EXPECT_EQ(read_file(sealed), before);
  EXPECT_FALSE(file_exists(media + "/new"));
  EXPECT_EQ(enc(plain, path("enc")), result_ok);
  EXPECT_EQ(dec(path("enc"), path("back")), result_ok);
  EXPECT_EQ(read_file(path("back")), read_file(plain));
  EXPECT_EQ(dec(sealed, path("out")), result_ok);
  EXPECT_EQ(read_file(path("out")), read_file(plain));
}
