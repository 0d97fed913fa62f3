// Utf8ToAnsi against Python's decode(errors="replace"): malformed UTF-8 must
// cost exactly as many '?' as Python makes U+FFFD, because the collection's
// generator models the index reading with Python and the catalogue must come
// out byte for byte the same.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/Files.h"
#include "tests/platform/TempDir.h"

namespace {

// Byte strings built mostly from UTF-8's interesting bytes: leads of every
// length and their boundary values, continuation bytes, ASCII, and whole
// Cyrillic letters, so that truncated, overlong, surrogate and out-of-range
// sequences all come up.
std::vector<std::string> MalformedSamples() {
  static const unsigned char kBytes[] = {
      'a',  ' ',  0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2, 0xD0, 0xDF, 0xE0, 0xE1,
      0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5, 0xF8, 0xFE, 0xFF, 0x98};
  std::mt19937 rng(20240607);
  std::vector<std::string> out;
  for (int i = 0; i < 3000; ++i) {
    std::string s;
    const int n = 1 + static_cast<int>(rng() % 9);
    for (int k = 0; k < n; ++k) {
      if (rng() % 6 == 0)
        s += "\xD0\x96";  // Ж
      else
        s += static_cast<char>(kBytes[rng() % sizeof kBytes]);
    }
    out.push_back(s);
  }
  return out;
}

// Python's reading of each sample, one result per line: decoded with
// errors="replace", then every character to its 1251 byte, or '?' where 1251
// has none (U+0098 goes to the byte 0x98, as our table keeps it).
std::vector<std::string> PythonReading(const std::vector<std::string>& samples,
                                       const std::string& dir) {
  std::string input;
  for (const auto& s : samples) input += std::to_string(s.size()) + "\n" + s;
  const std::string in = dir + "samples", outPath = dir + "python";
  platform::WriteFileBytes(in, input);
  const std::string script =
      "import sys\n"
      "data = open(sys.argv[1], 'rb').read()\n"
      "out = []\n"
      "pos = 0\n"
      "while pos < len(data):\n"
      "    eol = data.index(b'\\n', pos)\n"
      "    n = int(data[pos:eol])\n"
      "    text = data[eol + 1:eol + 1 + n].decode('utf-8', 'replace')\n"
      "    pos = eol + 1 + n\n"
      "    b = bytearray()\n"
      "    for c in text:\n"
      "        if c == '\\x98':\n"
      "            b.append(0x98)\n"
      "        else:\n"
      "            try:\n"
      "                b += c.encode('cp1251')\n"
      "            except UnicodeEncodeError:\n"
      "                b += b'?'\n"
      "    out.append(b'%d\\n' % len(b) + bytes(b))\n"
      "open(sys.argv[2], 'wb').write(b''.join(out))\n";
  platform::WriteFileBytes(dir + "decode.py", script);
  const std::string cmd = "/usr/bin/python3 " + dir + "/decode.py " + in + " " + outPath;
  if (std::system(cmd.c_str()) != 0) throw std::runtime_error("python3 failed");
  const std::string text = platform::ReadFileBytes(outPath);
  std::vector<std::string> results;
  for (size_t pos = 0; pos < text.size();) {
    const size_t eol = text.find('\n', pos);
    const size_t n = std::stoul(text.substr(pos, eol - pos));
    results.push_back(text.substr(eol + 1, n));
    pos = eol + 1 + n;
  }
  return results;
}

}  // namespace

TEST(Utf8ToAnsiPeer, OneQuestionMarkPerMaximalSubpartAsPython) {
  TempDir dir;
  const std::vector<std::string> samples = MalformedSamples();
  const std::vector<std::string> python = PythonReading(samples, dir.path());
  ASSERT_EQ(python.size(), samples.size());
  int differ = 0;
  for (size_t i = 0; i < samples.size() && differ < 10; ++i) {
    const std::string ours = platform::Utf8ToAnsi(samples[i]);
    if (ours != python[i]) {
      ++differ;
      std::string hex;
      for (unsigned char c : samples[i]) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02X ", c);
        hex += buf;
      }
      ADD_FAILURE() << "input " << hex << ": ours \"" << ours << "\", Python's \"" << python[i] << "\"";
    }
  }
}

TEST(Utf8ToAnsiPeer, UnicodeStandardExample) {
  // The example of the Unicode standard's "U+FFFD substitution of maximal
  // subparts": a F1 80 80 | E1 80 | C2 | b | 80 | c | 80 | BF | d.
  EXPECT_EQ(platform::Utf8ToAnsi("a\xF1\x80\x80\xE1\x80\xC2" "b\x80" "c\x80\xBF" "d"), "a???b?c??d");
  bool lossless = true;
  EXPECT_EQ(platform::Utf8ToAnsi("\xE2\x80", &lossless), "?");
  EXPECT_FALSE(lossless);
}
