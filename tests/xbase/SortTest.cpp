// TxbSort: the documented cases, and a property test against std::stable_sort
// of the byte-sortable key forms with runs spilled to the work file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "tests/platform/ChildProcess.h"
#include "tests/platform/TempDir.h"
#include "tests/xbase/ErrorOf.h"
#include "xbase/base/errors.h"
#include "xbase/base/key_sorter.h"

using namespace xbase;

namespace {

struct Out {
  std::string key;  // text or binary bytes; floats and dates as text
  int32_t tag;
  bool operator==(const Out& o) const { return key == o.key && tag == o.tag; }
};

std::string KeyText(const TxbVariant& v) {
  switch (v.TypeVar()) {
    case xbvtFloat: return std::to_string(v.GetFloat());
    case xbvtDate: return std::to_string(v.GetDate());
    default: return v.GetString();
  }
}

std::vector<Out> Drain(TxbSort& s, bool avail = false) {
  std::vector<Out> out;
  TxbVariant v;
  int32_t tag = 0;
  while (avail ? s.GetNextAvailKey(v, tag) : s.GetNextKey(v, tag)) out.push_back({KeyText(v), tag});
  return out;
}

void AddText(TxbSort& s, const std::string& key, int32_t tag) {
  TxbVariant v;
  v.PutString(key);
  s.AddKey(v, tag);
}

void AddFloat(TxbSort& s, double key, int32_t tag) {
  TxbVariant v;
  v.PutFloat(key);
  s.AddKey(v, tag);
}

// The documented form of a key: its bytes, then the record number big-endian.
std::string Form(const TxbVariant& v, int32_t tag) {
  std::string f;
  auto be = [&](uint64_t x, int n) {
    for (int i = n - 1; i >= 0; --i) f += static_cast<char>(x >> (8 * i));
  };
  if (v.TypeVar() == xbvtFloat) {
    double d = v.GetFloat();
    if (d == 0) d = 0;
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    be(bits >> 63 ? ~bits : bits | uint64_t{1} << 63, 8);
  } else if (v.TypeVar() == xbvtDate) {
    be(static_cast<uint32_t>(v.GetDate()), 4);
  } else {
    f = v.GetString();
    if (v.TypeVar() == xbvtText) f.erase(f.find_last_not_of(' ') + 1);
  }
  be(static_cast<uint32_t>(tag), 4);
  return f;
}

}  // namespace

TEST(Sort, GetNextAvailKeyIgnoresUniqueness) {
  TxbSort u(10, true, true);
  AddText(u, "B", 1);
  AddText(u, "B", 2);
  AddText(u, "C", 3);
  TxbVariant v;
  int32_t tag;
  ASSERT_TRUE(u.GetFirstKey(v, tag));
  EXPECT_EQ(tag, 1);
  ASSERT_TRUE(u.GetNextAvailKey(v, tag));
  EXPECT_EQ(tag, 2);
  ASSERT_TRUE(u.GetNextKey(v, tag));
  EXPECT_EQ(tag, 3);
  EXPECT_FALSE(u.GetNextKey(v, tag));
}

TEST(Sort, FloatsAscendingAndDescending) {
  for (bool asc : {true, false}) {
    TxbSort s(8, false, asc);
    AddFloat(s, 2, 1);
    AddFloat(s, -1.5, 2);
    AddFloat(s, 0, 3);
    AddFloat(s, -0.0, 4);
    TxbVariant v;
    int32_t tag;
    std::vector<double> keys;
    std::vector<int32_t> tags;
    while (s.GetNextKey(v, tag)) keys.push_back(v.GetFloat()), tags.push_back(tag);
    if (asc) {
      EXPECT_EQ(keys, (std::vector<double>{-1.5, 0, 0, 2}));
      EXPECT_EQ(tags, (std::vector<int32_t>{2, 3, 4, 1})) << "0 and -0 are one key";
    } else {
      EXPECT_EQ(keys, (std::vector<double>{2, 0, 0, -1.5}));
      EXPECT_EQ(tags, (std::vector<int32_t>{1, 4, 3, 2})) << "descending reverses the record order too";
    }
  }
}

TEST(Sort, RefusalsAndReinit) {
  EXPECT_EQ(ErrorOf([] { TxbSort s(241, false, true); }), "Sort key length must be 1-240 bytes, is 241");
  EXPECT_EQ(ErrorOf([] { TxbSort s(0, false, true); }), "Sort key length must be 1-240 bytes, is 0");
  TxbSort s(4, false, true);
  TxbVariant b;
  b.PutBoolean(true);
  EXPECT_EQ(ErrorOf([&] { s.AddKey(b, 1); }), "Variant type cannot be sorted");
  EXPECT_EQ(ErrorOf([&] { s.AddKey(TxbVariant(), 1); }), "Variant type cannot be sorted");
  EXPECT_EQ(ErrorOf([&] { AddText(s, "ABCDE", 1); }), "Sort key length must be 1-240 bytes, is 5");
  AddText(s, "ABCD    ", 1);  // trailing blanks do not count
  AddText(s, "X", 2);
  TxbVariant v;
  int32_t tag;
  ASSERT_TRUE(s.GetFirstKey(v, tag));
  EXPECT_EQ(ErrorOf([&] { AddText(s, "Y", 3); }), "Cannot add sort keys after beginning retrieval");
  s.ReinitSorting();
  EXPECT_EQ(s.Count(), 0);
  AddText(s, "Z", 9);
  EXPECT_EQ(Drain(s), (std::vector<Out>{{"Z", 9}}));
}

// Random keys of each type, many equal, record numbers small and past 2^24,
// text with NULs, high bytes and trailing blanks; a budget small enough that
// several runs are spilled and merged. Expected: std::stable_sort of the
// documented forms.
TEST(Sort, AgreesWithStableSortOfTheFormsAcrossSpilledRuns) {
  TempDir work;
  std::mt19937 rng(42);
  for (int type : {xbvtText, xbvtFloat, xbvtDate, xbvtBinary}) {
    for (bool asc : {true, false}) {
      for (bool unique : {false, true}) {
        const int n = 3000;
        std::vector<std::pair<std::string, size_t>> model;  // form, input index
        std::vector<std::unique_ptr<TxbVariant>> keys;
        std::vector<int32_t> tags;
        TxbSort s(12, unique, asc, nullptr, 8 << 10, work.path());
        for (int i = 0; i < n; ++i) {
          auto v = std::make_unique<TxbVariant>();
          const int pick = static_cast<int>(rng() % 40);  // few distinct keys: many equal ones
          if (type == xbvtText || type == xbvtBinary) {
            std::string k(1 + pick % 5, 'a');
            std::mt19937 keyRng(static_cast<unsigned>(pick));
            for (auto& c : k) c = "\0A B\xE0\xFF"[keyRng() % 6];
            if (pick % 3 == 0) k += "  ";
            type == xbvtText ? v->PutString(k) : v->PutBinary(k.data(), k.size());
          } else if (type == xbvtFloat) {
            v->PutFloat((pick - 20) * 0.75);
          } else {
            v->PutDate(2451544 + pick * 3);
          }
          const int32_t tag = rng() % 2 ? static_cast<int32_t>(1 + rng() % 100) : static_cast<int32_t>(rng() & 0x7FFFFFFF);
          s.AddKey(*v, tag);
          model.push_back({Form(*v, tag), static_cast<size_t>(i)});
          keys.push_back(std::move(v));
          tags.push_back(tag);
        }
        EXPECT_GT(s.RunCount(), 2);
        EXPECT_TRUE(platform::ListFolder(work.path()).empty()) << "the work file has no name";
        std::stable_sort(model.begin(), model.end(), [&](const auto& a, const auto& b) {
          const int c = std::memcmp(a.first.data(), b.first.data(), std::min(a.first.size(), b.first.size()));
          const int d = c != 0 ? c : (a.first.size() < b.first.size() ? -1 : a.first.size() > b.first.size());
          return asc ? d < 0 : d > 0;
        });
        std::vector<Out> want;
        std::string last;
        bool any = false;
        for (const auto& [form, i] : model) {
          const std::string keyPart = form.substr(0, form.size() - 4);
          if (unique && any && keyPart == last) continue;
          last = keyPart, any = true;
          TxbVariant expect;
          expect.Assign(keys[i].get());
          if (type == xbvtText) expect.TrimR();
          if (type == xbvtFloat && expect.GetFloat() == 0) expect.PutFloat(0);
          want.push_back({KeyText(expect), tags[i]});
        }
        ASSERT_EQ(Drain(s), want) << "type " << type << " asc " << asc << " unique " << unique;
      }
    }
  }
  EXPECT_TRUE(platform::ListFolder(work.path()).empty());
}

TEST(Sort, CollateTableOrdersTheKeyBytes) {
  uint8_t fold[256];
  for (int i = 0; i < 256; ++i) fold[i] = static_cast<uint8_t>(i >= 'a' && i <= 'z' ? i - 32 : i);
  TxbSort s(4, true, true, fold);
  AddText(s, "b", 1);
  AddText(s, "B", 2);
  AddText(s, "a", 3);
  AddText(s, "C", 4);
  EXPECT_EQ(Drain(s), (std::vector<Out>{{"a", 3}, {"b", 1}, {"C", 4}})) << "b and B are one key";
}

// Text keys through a collate table, longer than the part of a key that the
// sorter compares without reading the key (its first 12 bytes) and shorter,
// with NULs, case pairs and high bytes, in memory and across spilled runs:
// the order is that of the collated forms (record numbers as they are, a
// shorter form first), equal forms in the order of adding.
TEST(Sort, CollatedKeysOfEveryLengthAgreeWithTheModel) {
  TempDir work;
  uint8_t fold[256];
  for (int i = 0; i < 256; ++i) fold[i] = static_cast<uint8_t>(i >= 'a' && i <= 'z' ? i - 32 : i);
  const auto collated = [&](const std::string& form) {
    std::string c = form;
    for (size_t i = 0; i + 4 < c.size(); ++i) c[i] = static_cast<char>(fold[static_cast<uint8_t>(c[i])]);
    return c;
  };
  std::mt19937 rng(7);
  for (const size_t budget : {size_t{32} << 20, size_t{6} << 10}) {
    for (const bool asc : {true, false}) {
      TxbSort s(30, false, asc, fold, budget, work.path());
      std::vector<std::pair<std::string, Out>> model;  // collated form, what comes out
      for (int i = 0; i < 2000; ++i) {
        // A common head of 8 bytes makes many keys differ only after it.
        std::string k = rng() % 2 ? "Abcdefgh" : "";
        for (size_t n = rng() % 18; n > 0; --n) k += "\0aAbB\xE0\xFF"[rng() % 7];
        while (!k.empty() && k.back() == ' ') k.pop_back();
        const int32_t tag = static_cast<int32_t>(rng() % 50);
        AddText(s, k, tag);
        TxbVariant v;
        v.PutString(k);
        model.push_back({collated(Form(v, tag)), {k, tag}});
      }
      if (budget < 1024 * 1024) {
        EXPECT_GT(s.RunCount(), 1);
      }
      std::stable_sort(model.begin(), model.end(), [&](const auto& a, const auto& b) {
        const std::string& x = a.first;
        const std::string& y = b.first;
        const int c = std::memcmp(x.data(), y.data(), std::min(x.size(), y.size()));
        const int d = c != 0 ? c : (x.size() < y.size() ? -1 : x.size() > y.size());
        return asc ? d < 0 : d > 0;
      });
      std::vector<Out> want;
      for (const auto& m : model) want.push_back(m.second);
      EXPECT_EQ(Drain(s, true), want) << "asc " << asc << " budget " << budget;
    }
  }
}

TEST(Sort, AFullDiskWhileSpillingIsAnEngineError) {
  TempDir work;
  // The child may write files of 4 KiB at most: the second run does not fit.
  EXPECT_EQ(InChild([&] {
              signal(SIGXFSZ, SIG_IGN);
              const rlimit limit{4096, 4096};
              setrlimit(RLIMIT_FSIZE, &limit);
              TxbSort s(20, false, true, nullptr, 4096, work.path());
              const std::string err = ErrorOf([&] {
                for (int i = 0; i < 2000; ++i) AddText(s, "key " + std::to_string(i), i);
              });
              return err.rfind("Error 27 in Write of file " + work.path(), 0) == 0 ? 0 : 1;
            }),
            0);
  EXPECT_TRUE(platform::ListFolder(work.path()).empty());
}
