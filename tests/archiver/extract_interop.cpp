// Extraction of archives made by the peers (Info-ZIP, Python's zipfile,
// 7-Zip): stored and deflated items, both styles of the traditional cipher
// (check byte from the time with a data descriptor, from the CRC without),
// zip64 records, UTF-8 and 866 names. The bytes must equal what unzip -p
// gives, ExtractFiles must write the same bytes under the decoded names, and
// each file must carry the DOS date and time that zipinfo -v shows.
#include <gtest/gtest.h>

#include <map>

#include "archiver/ZAExcept.h"
#include "extract_util.h"
#include "platform/Dialogs.h"

namespace {

using namespace extract_test;

// Sample files on disk with fixed modification times (odd seconds on
// purpose: DOS keeps two-second steps).
struct Samples {
  TempDir dir;
  Samples() {
    const char* script = R"PY(
import os, random, sys
root = sys.argv[1]
random.seed(7)
words = ['книга ', 'the ', 'zip ', 'deflate ', '\n', '<p>', '</p>', 'автор ']
text = ''.join(random.choice(words) for _ in range(60000)).encode('utf-8')
files = {'a.txt': text, 'b.bin': bytes(random.getrandbits(8) for _ in range(70000)),
         'empty.txt': b'', 'sub/c.txt': b'\x98\x00\xff' * 5000}
for name, data in files.items():
    path = os.path.join(root, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    open(path, 'wb').write(data)
)PY";
    EXPECT_TRUE(Py(script, Q(dir.Path())));
    RunCmd("cd " + Q(dir.Path()) + " && touch -d '2021-03-04 05:06:07' a.txt b.bin empty.txt sub/c.txt sub");
  }
  std::string Path() const { return dir.Path(); }
};

// What one archive must give: the peers' bytes and times, ours compared.
void CheckExtraction(const std::string& zip, const std::string& password = {},
                     const std::vector<std::string>& expectNames = {}) {
  SCOPED_TRACE(zip);
  platform::TDialogProviderScope headless(nullptr);
  TempDir out;
  auto arc = Open(zip, out.Path());
  arc->SetPassword(password);

  // Files only: unzip -p writes nothing for folders.
  std::vector<std::pair<std::string, int>> files;
  archiver::TZAArchiveItem F;
  for (bool ok = arc->FindFirst("*.*", F, 0x1EF, ""); ok; ok = arc->FindNext(F))
    files.emplace_back(F.StoredPath + F.FileName, F.Handle.ItemNo);
  ASSERT_FALSE(files.empty());
  if (!expectNames.empty()) {
    std::vector<std::string> names;
    for (const auto& f : files) names.push_back(f.first);
    EXPECT_EQ(names, expectNames);
  }

  std::map<std::string, std::string> bytes;
  std::string ours;
  for (const auto& [name, index] : files) {
    std::string text;
    arc->ExtractToString(name, text);
    bytes[name] = text;
    ours += text;
  }
  const std::string theirs =
      RunCmd("unzip -p " + (password.empty() ? std::string() : "-P " + Q(password) + " ") + Q(zip));
  ASSERT_NE(theirs, "<failed>");
  EXPECT_TRUE(ours == theirs) << "sizes " << ours.size() << " and " << theirs.size();

  EXPECT_EQ(arc->ExtractFiles("*.*", archiver::ZADefaultSearchAttr, ""), arc->DMHandle()->CDir.Count());
  const std::vector<std::string> times = ZipinfoDosTimes(zip);
  ASSERT_EQ(static_cast<int>(times.size()), arc->DMHandle()->CDir.Count());
  for (const auto& [name, index] : files) {
    EXPECT_TRUE(ReadBytes(out / name) == bytes[name]) << name;
    EXPECT_EQ(LocalModTime(out / name), times[static_cast<size_t>(index)]) << name;
  }
}

TEST(ExtractInterop, InfoZip) {
  Samples s;
  TempDir z;
  const std::string in = "cd " + Q(s.Path()) + " && ";
  ASSERT_NE(RunCmd(in + "zip -q -r " + Q(z / "plain.zip") + " a.txt b.bin empty.txt sub"), "<failed>");
  ASSERT_NE(RunCmd(in + "zip -q -0 -r " + Q(z / "stored.zip") + " a.txt sub"), "<failed>");
  // Info-ZIP encrypts with a data descriptor: the check byte is the time's.
  ASSERT_NE(RunCmd(in + "zip -q -P 'p@ss w0rd' -r " + Q(z / "crypt.zip") + " a.txt b.bin empty.txt sub"),
            "<failed>");
  ASSERT_NE(RunCmd(in + "zip -q -fz -r " + Q(z / "zip64.zip") + " a.txt b.bin sub"), "<failed>");
  CheckExtraction(z / "plain.zip", {}, {"a.txt", "b.bin", "empty.txt", "sub/c.txt"});
  CheckExtraction(z / "stored.zip");
  CheckExtraction(z / "crypt.zip", "p@ss w0rd");
  CheckExtraction(z / "zip64.zip");
}

TEST(ExtractInterop, PythonZipfile) {
  TempDir z;
  const char* script = R"PY(
import sys, zipfile
class Oem(zipfile.ZipInfo):
    # Names in the DOS code page without the UTF-8 flag, as old Windows tools wrote them.
    def _encodeFilenameFlags(self):
        return self.filename.encode('cp866'), self.flag_bits
def info(cls, name, when=(2020, 1, 2, 3, 4, 5)):
    zi = cls(name, when)
    zi.compress_type = zipfile.ZIP_DEFLATED
    return zi
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    z.writestr(info(zipfile.ZipInfo, 'книга.fb2'), 'Тело книги '.encode('utf-8') * 3000)
    stored = zipfile.ZipInfo('raw.bin', (1999, 12, 31, 23, 59, 58))
    z.writestr(stored, bytes(range(256)) * 300)
    folder = info(zipfile.ZipInfo, 'dir/')
    folder.external_attr = 0o40755 << 16 | 0x10
    z.writestr(folder, b'')
    with z.open(info(zipfile.ZipInfo, 'dir/big64.txt', (2107, 12, 31, 23, 59, 58)), 'w', force_zip64=True) as f:
        f.write(b'zip64 ' * 50000)
    oem = info(Oem, 'Глава ё.txt', (2010, 6, 7, 8, 9, 10))
    oem.create_system = 0
    z.writestr(oem, 'в кодировке 866'.encode('cp1251') * 100)
)PY";
  ASSERT_TRUE(Py(script, Q(z / "py.zip")));
  CheckExtraction(z / "py.zip", {}, {"книга.fb2", "raw.bin", "dir/big64.txt", "Глава ё.txt"});
}

TEST(ExtractInterop, SevenZip) {
  const std::string seven = SevenZip();
  if (seven.empty()) GTEST_SKIP() << "7-Zip is not installed";
  Samples s;
  TempDir z;
  ASSERT_NE(RunCmd("cd " + Q(s.Path()) + " && cp a.txt 'Сказка.txt' && " + seven + " a -tzip " +
                   Q(z / "7.zip") + " a.txt b.bin empty.txt sub 'Сказка.txt' >/dev/null"),
            "<failed>");
  ASSERT_NE(RunCmd("cd " + Q(s.Path()) + " && " + seven + " a -tzip -mx0 " + Q(z / "7s.zip") +
                   " a.txt sub >/dev/null"),
            "<failed>");
  // 7-Zip encrypts without a data descriptor: the check byte is the CRC's.
  ASSERT_NE(RunCmd("cd " + Q(s.Path()) + " && " + seven + " a -tzip -mem=ZipCrypto -psecret " +
                   Q(z / "7c.zip") + " a.txt b.bin sub >/dev/null"),
            "<failed>");
  CheckExtraction(z / "7.zip");
  CheckExtraction(z / "7s.zip");
  CheckExtraction(z / "7c.zip", "secret");
}

}  // namespace
