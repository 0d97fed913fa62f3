// What the archive harnesses share: an archive opened over the input bytes
// in memory, and the operations every harness runs on it.
//
// A harness is one function, LLVMFuzzerTestOneInput, that takes bytes: built
// with clang and -fsanitize=fuzzer it is a libFuzzer target (scripts/fuzz);
// built with the normal compiler and replay_main.cpp it replays files (the
// CTest replay of the corpus). Expected failures (the archiver's errors, a
// short stream) are caught; anything else escapes and counts as a finding.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "archiver/ZACryptoTransform.h"
#include "archiver/ZAExcept.h"
#include "archiver/ZARecords.h"
#include "archiver/ZipArchiver.h"
#include "platform/File.h"
#include "platform/Streams.h"

namespace fuzz {

// How many items a harness handles one by one (by name).
inline constexpr size_t kMaxNamed = 64;

// Runs `f`, swallowing the failures an archive may rightly cause.
template <class F>
void Expected(F&& f) {
  try {
    f();
  } catch (const archiver::EZAException&) {
  } catch (const platform::EStreamError&) {
  } catch (const platform::EFileError&) {
  }
}

// The password the harnesses give: the AES seeds of the corpus are
// encrypted with it, so that decryption and its checks are reached.
inline constexpr const char* kPassword = "SECRET";

// One scratch folder per process, removed at exit. In memory where the
// system offers it: extraction and commits sync what they write.
inline const std::filesystem::path& Scratch() {
  struct TFolder {
    std::filesystem::path dir;
    TFolder() {
      std::error_code ec;
      const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec)
                                             ? std::filesystem::path("/dev/shm")
                                             : std::filesystem::temp_directory_path();
      std::string tmpl = (base / "fuzzx.XXXXXX").string();
      if (!::mkdtemp(tmpl.data())) std::abort();
      dir = tmpl;
    }
    ~TFolder() {
      std::error_code ec;
      std::filesystem::remove_all(dir, ec);
    }
  };
  static const TFolder folder;
  return folder.dir;
}

// Writes the input into `path`.
inline void WriteInput(const std::filesystem::path& path, const uint8_t* data, size_t size) {
  platform::TFileStream f(path.string(), platform::fmCreate);
  f.WriteBuffer(data, static_cast<int64_t>(size));
}

// The names in `dir` other than `keep`: a harness's leftovers.
inline bool OnlyThese(const std::filesystem::path& dir, std::initializer_list<std::string> keep) {
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (std::find(keep.begin(), keep.end(), e.path().filename().string()) == keep.end()) return false;
  return true;
}

// Answers every failure of a single item with Ignore, and collects the
// names that failed.
inline void IgnoreFailures(archiver::TZABaseArchiver& arc, std::vector<std::string>* failed = nullptr) {
  arc.OnProcessFileFailure = [failed](archiver::TZABaseArchiver&, const std::string& name,
                                      archiver::TZAProcessOperation, int, int, const std::string&,
                                      archiver::TZAAction& action) {
    if (failed) failed->push_back(name);
    action = archiver::fxaIgnore;
  };
}

inline constexpr uint64_t kFloorCap = 8u << 20;

// The oracle of the damaged-item harnesses, independent of the archiver's
// reader: what zlib recovers of the item `item` of an archive over the
// input bytes. Its local header is read here from the input; its data run
// from behind that header to its compressed size, or to where its bytes end
// (the next item's header, the end of the input), whichever comes first;
// deflate data are inflated by zlib up to their first error, stored data
// copied, both never past the item's declared size. Nullopt where the
// oracle has nothing to say: an encrypted item, a method other than stored
// and deflate, no local header of the item's name at its offset. A streamed
// record whose descriptor is gone (DescriptorMissing) declares no size: its
// floor is what zlib gives of the bytes it has, up to kFloorCap.
inline std::optional<std::string> ZlibFloor(const uint8_t* data, size_t size, const archiver::TDirItem& item) {
  const archiver::TZAZipCentralDir& cd = item.CentralDir;
  if ((cd.genPurposeFlag & archiver::ZA_FLAG_ENCRYPTED) || (cd.compMethod != 0 && cd.compMethod != 8))
    return std::nullopt;
  const uint64_t at = item.LocalHeaderOffset();
  if (at > size || size - at < 30 || std::memcmp(data + at, "PK\3\4", 4) != 0) return std::nullopt;
  const size_t nameLength = archiver::ZAGetU16(data + at + 26), extraLength = archiver::ZAGetU16(data + at + 28);
  if (!item.StoredName || size - at - 30 < nameLength ||
      std::string(reinterpret_cast<const char*>(data) + at + 30, nameLength) != *item.StoredName)
    return std::nullopt;
  const uint64_t start = at + 30 + nameLength + extraLength;
  const uint64_t end = std::min({start + std::min<uint64_t>(item.CompressedSize(), size), item.DataLimit,
                                 static_cast<uint64_t>(size)});
  std::string out;
  const uint64_t declared =
      item.DescriptorMissing && item.UncompressedSize() == 0 ? kFloorCap : item.UncompressedSize();
  if (start >= end) return out;
  if (cd.compMethod == 0) {
    out.assign(reinterpret_cast<const char*>(data) + start, static_cast<size_t>(std::min(end - start, declared)));
    return out;
  }
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return std::nullopt;
  z.next_in = const_cast<Bytef*>(data + start);
  z.avail_in = static_cast<uInt>(end - start);
  char buffer[16384];
  // A bomb's floor is its first megabytes: enough to compare, not a
  // fuzzing run's time.
  const uint64_t cap = std::min<uint64_t>(declared, kFloorCap);
  for (int rc = Z_OK; rc == Z_OK && out.size() < cap;) {
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = sizeof buffer;
    rc = inflate(&z, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - z.avail_out);
  }
  inflateEnd(&z);
  if (out.size() > cap) out.resize(static_cast<size_t>(cap));
  return out;
}

// Whether the item had data: a size that is not 0.
inline bool HasData(const archiver::TDirItem& item) {
  return item.CompressedSize() > 0 || item.UncompressedSize() > 0;
}

// How much input `out` bytes of `item` cost at the least: one byte each when
// stored, one in 1,032 when deflated (deflate's largest ratio). An archive
// whose every byte serves one item at most gives no more weight in all
// than its size. The method is the one the reader inflates by: an AES
// item's is in its 0x9901 field, which the reader of a zip archive takes
// even where the entry's version leaves CompressionMethod at 99.
inline uint64_t Weight(const archiver::TDirItem& item, uint64_t out) {
  uint16_t method = item.CentralDir.compMethod;
  archiver::TZAAESExtraInfo aes;
  if (method == archiver::ZA_METHOD_AES && archiver::ZAReadAESExtraField(item, aes)) method = aes.actualMethod;
  return method == archiver::ZA_METHOD_DEFLATE ? out / 1032 : out;
}

// Whether `got` holds at least the bytes of `floor`, in order.
inline bool KeepsFloor(const std::string& got, const std::string& floor) {
  return got.size() >= floor.size() && got.compare(0, floor.size(), floor) == 0;
}

// The items that their name alone finds, among the first kMaxNamed: no
// other item shares the name (A-Z folded, either separator) and it holds no
// mask character.
inline std::vector<int> NamedItems(const archiver::TZADirArray& dir) {
  std::map<std::string, int> count;
  for (int i = 0; i < dir.Count(); ++i) ++count[archiver::ZANameKey(dir[i].Name)];
  std::vector<int> named;
  for (int i = 0; i < dir.Count() && named.size() < kMaxNamed; ++i) {
    const std::string& name = dir[i].Name;
    if (!name.empty() && name.find_first_of("*?") == std::string::npos && count[archiver::ZANameKey(name)] == 1)
      named.push_back(i);
  }
  return named;
}

// Reads each of NamedItems of the open `arc`, damaged items as
// ExtractCorruptedFiles reads them where `damaged`, and gives `f` the item,
// its bytes and whether it read without a failure. Into a stream:
// ExtractToString reserves what the sizes declare, and fuzzed sizes may
// not fit the memory limit.
template <class F>
void ReadNamed(archiver::TZABaseArchiver& arc, bool damaged, F f) {
  const bool was = arc.ExtractCorruptedFiles();
  arc.SetExtractCorruptedFiles(damaged);
  archiver::TZADirArray& dir = arc.DMHandle()->CDir;
  for (const int i : NamedItems(dir)) {
    const std::string name = dir[i].Name;
    platform::TStringStream got;
    bool read = false;
    Expected([&] {
      arc.ExtractToStream(name, got);
      read = true;
    });
    f(dir[i], got.DataString(), read);
  }
  arc.SetExtractCorruptedFiles(was);
}

// The bytes of the items among NamedItems of the open `arc` that read
// cleanly (whole, their checks passed), by name.
inline std::map<std::string, std::string> CleanItems(archiver::TZABaseArchiver& arc) {
  std::map<std::string, std::string> clean;
  ReadNamed(arc, false, [&](const archiver::TDirItem& item, const std::string& bytes, bool read) {
    if (read) clean[item.Name] = bytes;
  });
  return clean;
}

// The weight (Weight) of what the items among NamedItems of the open `arc`
// give when read as damaged items are (ExtractCorruptedFiles).
inline uint64_t WeighedOutput(archiver::TZABaseArchiver& arc) {
  uint64_t weight = 0;
  ReadNamed(arc, true, [&](const archiver::TDirItem& item, const std::string& bytes, bool) {
    weight += Weight(item, bytes.size());
  });
  return weight;
}

// Whether each of `items` reads cleanly from the open `arc`, the same bytes.
inline bool ReadsTheSame(archiver::TZABaseArchiver& arc,
                         const std::map<std::string, std::string>& items) {
  for (const auto& [name, bytes] : items) {
    platform::TStringStream got;
    bool read = false;
    Expected([&, n = name] {
      arc.ExtractToStream(n, got);
      read = true;
    });
    if (!read || got.DataString() != bytes) return false;
  }
  return true;
}

// A name that every operation stores as it is: letters, digits, '.', '_',
// '-' in components joined by single '/', none of them "." or "..".
inline bool PlainName(const std::string& name) {
  size_t from = 0;
  for (;;) {
    const size_t slash = name.find('/', from);
    const std::string part = name.substr(from, slash == std::string::npos ? std::string::npos : slash - from);
    if (part.empty() || part == "." || part == ".." ||
        part.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-") != std::string::npos)
      return false;
    if (slash == std::string::npos) return true;
    from = slash + 1;
  }
}

// An archive component over the input bytes. `lenient` opens damaged
// archives (the rebuild from local headers); otherwise they are refused.
class TArchive {
 public:
  TArchive(const uint8_t* data, size_t size, bool lenient)
      : stream_(std::string(reinterpret_cast<const char*>(data), size)) {
    arc_.SetOpenCorruptedArchives(lenient);
    // Failures of single items are answered: go on with the next.
    IgnoreFailures(arc_);
    arc_.OnPassword = [](archiver::TZABaseArchiver&, const std::string&, std::string&, bool& skip) { skip = true; };
    Expected([&] {
      arc_.OpenArchive(stream_, false);
      open_ = true;
    });
  }

  bool Open() const { return open_; }
  archiver::TZipArchiver& Arc() { return arc_; }
  // The archive's bytes, as a change left them.
  const std::string& Bytes() const { return stream_.DataString(); }

  // Stored path + file name of every item, as listed.
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    Expected([&] {
      archiver::TZAArchiveItem F;
      for (bool ok = arc_.FindFirst("*.*", F, archiver::ZADefaultSearchAttr, ""); ok; ok = arc_.FindNext(F))
        names.push_back(F.StoredPath + F.FileName);
    });
    return names;
  }

  // Looks the listed names up again, by the index and by their name part
  // (the first kMaxNamed: a long list adds no new paths, only time).
  void LookUp(const std::vector<std::string>& names) {
    for (size_t i = 0; i < names.size() && i < kMaxNamed; ++i)
      Expected([&, n = names[i]] {
        archiver::TZAArchiveItem F;
        arc_.FindFirst(n, F, 0x1EF, "");
        const size_t slash = n.rfind('/');
        if (slash != std::string::npos) arc_.FindFirst(n.substr(slash + 1), F, 0x1EF, "");
      });
  }

  void TestAll() {
    Expected([&] { arc_.TestFiles("*.*", archiver::ZADefaultSearchAttr, ""); });
  }

 private:
  platform::TStringStream stream_;
  archiver::TZipArchiver arc_;
  bool open_ = false;
};

}  // namespace fuzz
