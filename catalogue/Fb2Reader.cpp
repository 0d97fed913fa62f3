#include "catalogue/Fb2Reader.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <cerrno>

#include "archiver/ZAExcept.h"
#include "archiver/ZAZlib.h"
#include "archiver/ZipArchiver.h"
#include "catalogue/Func.h"
#include "platform/Files.h"
#include "platform/Streams.h"

namespace catalogue {

namespace {

constexpr uint64_t kFirstHead = 2000;
constexpr uint64_t kLastHead = 16000;
constexpr uint64_t kLargestSize = 99999999;  // the size field's 8 digits
constexpr size_t kFileWidth = 8;
constexpr int64_t kProgressBooks = 50;
constexpr int kMemberAttributes = 0x1EF;  // everything but folders

bool EndsWithNoCase(std::string_view name, std::string_view ext) {
  if (name.size() < ext.size()) return false;
  return std::equal(ext.begin(), ext.end(), name.end() - static_cast<std::ptrdiff_t>(ext.size()),
                    [](char a, char b) { return a == (b >= 'A' && b <= 'Z' ? b + 32 : b); });
}

// 1-based position of `what` in `s`, 0 when absent.
size_t Position(std::string_view s, std::string_view what) {
  const size_t at = s.find(what);
  return at == std::string_view::npos ? 0 : at + 1;
}

// The book's own namespace. The block is cut out of its document, so a
// namespace declared on the root is lost and its elements have none; a
// block that declares it itself keeps it on every element.
constexpr char kFictionBookNs[] = "http://www.gribuser.ru/xml/fictionbook/2.0";

bool IsElement(const xmlNode* n, const char* name) {
  return n->type == XML_ELEMENT_NODE &&
         (n->ns == nullptr || xmlStrEqual(n->ns->href, reinterpret_cast<const xmlChar*>(kFictionBookNs))) &&
         xmlStrEqual(n->name, reinterpret_cast<const xmlChar*>(name));
}

// All descendant text of `n`, UTF-8.
std::string Text(const xmlNode* n) {
  xmlChar* content = xmlNodeGetContent(n);
  std::string s = content ? reinterpret_cast<const char*>(content) : "";
  xmlFree(content);
  return s;
}

// An attribute without namespace; empty when absent.
std::string Attribute(xmlNode* n, const char* name) {
  xmlChar* value = xmlGetNoNsProp(n, reinterpret_cast<const xmlChar*>(name));
  std::string s = value ? reinterpret_cast<const char*>(value) : "";
  xmlFree(value);
  return s;
}

AnsiString BlankControls(AnsiString s) {
  for (char& c : s) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  return s;
}

// Keeps libxml2's messages off the terminal while a head is parsed; the
// handler in force before comes back afterwards.
class TQuietXml {
 public:
  TQuietXml() : func_(xmlStructuredError), context_(xmlStructuredErrorContext) {
    xmlStructuredErrorFunc ignore = [](void*, auto) {};
    xmlSetStructuredErrorFunc(nullptr, ignore);
  }
  ~TQuietXml() { xmlSetStructuredErrorFunc(context_, func_); }
  TQuietXml(const TQuietXml&) = delete;
  TQuietXml& operator=(const TQuietXml&) = delete;

 private:
  xmlStructuredErrorFunc func_;
  void* context_;
};

// Fills `book` from the children of the title-info element `root`.
void ReadTitleInfo(xmlNode* root, TBOOK& book) {
  AnsiString text;
  for (xmlNode* child = root->children; child; child = child->next) {
    if (IsElement(child, "book-title")) {
      assignClean(book.bookName, platform::Utf8ToAnsi(Text(child)));
    } else if (IsElement(child, "lang")) {
      assignClean(book.lang, platform::Utf8ToAnsi(Text(child)));
    } else if (IsElement(child, "genre")) {
      assignClean(text, platform::Utf8ToAnsi(Text(child)));
      book.genre.push_back(text);
    } else if (IsElement(child, "sequence")) {
      // The attributes as they stand: blanks around them are the book's.
      book.seria = BlankControls(platform::Utf8ToAnsi(Attribute(child, "name")));
      if (!book.seria.empty())
        appendSeriesNumber(book.seria, BlankControls(platform::Utf8ToAnsi(Attribute(child, "number"))));
    } else if (IsElement(child, "author")) {
      std::string name;
      for (const char* part : {"last-name", "first-name", "middle-name"}) {
        const xmlNode* first = child->children;
        while (first && !IsElement(first, part)) first = first->next;
        const std::string partText = first ? Text(first) : std::string();
        if (partText.empty()) continue;
        if (!name.empty()) name += ' ';
        name += partText;
      }
      assignClean(text, platform::Utf8ToAnsi(name));
      book.author.push_back(text.empty() ? unknownAuthorName() : text);
    }
  }
}

}  // namespace

struct TFb2Reader::Rep {
  Rep(TJobHost& h, TBookSink& s) : host(h), sink(s), parser(xmlNewParserCtxt()) {
    if (!parser) throw std::bad_alloc();
  }
  ~Rep() { xmlFreeParserCtxt(parser); }

  TJobHost& host;
  TBookSink& sink;
  xmlParserCtxtPtr parser;
  AnsiString log;
  int64_t members = 0;
  TBOOK book;
  AnsiString head;  // the bytes read of the current member
  std::string xml;  // the text handed to the parser
};

TFb2Reader::TFb2Reader(TJobHost& host, TBookSink& sink) : rep_(std::make_unique<Rep>(host, sink)) {}

TFb2Reader::~TFb2Reader() = default;

const AnsiString& TFb2Reader::Log() const { return rep_->log; }

int64_t TFb2Reader::MembersFound() const { return rep_->members; }

bool TFb2Reader::saveLog(const std::string& exportDir) const {
  return saveStrToFile(rep_->log, platform::JoinPath(exportDir, "zzz.txt"));
}

bool TFb2Reader::parseFb2Header(std::string_view head, TBOOK& book) {
  const size_t p1 = Position(head, "?>");
  const size_t p2 = Position(head, "<title-info");
  const size_t p3 = Position(head, "</title-info");
  rep_->log += std::to_string(p3);
  rep_->log += '\r';
  book.Clear();
  if (p2 == 0 || p3 == 0) return false;

  // The declaration (through its "?>") when it comes before the block, a CR,
  // and the block through the ">" closing "</title-info".
  std::string& xml = rep_->xml;
  xml.clear();
  if (p1 > 0 && p1 < p2) {
    xml.assign(head.substr(0, p1 + 1));
    xml += '\r';
  }
  const size_t from = p2 - 1, to = std::min(head.size(), p3 + 12);
  if (to > from) xml.append(head.substr(from, to - from));
  // A link attribute's namespace prefix is declared outside the block.
  for (size_t at = xml.find(":href"); at != std::string::npos; at = xml.find(":href", at)) xml.erase(at, 1);

  TQuietXml quiet;
  xmlDocPtr doc = xmlCtxtReadMemory(rep_->parser, xml.data(), static_cast<int>(xml.size()), nullptr, nullptr,
                                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (!doc) return false;
  // An undeclared prefix leaves the text well-formed to libxml2 but is no
  // XML of namespaces: such a block is dropped like any malformed one.
  if (rep_->parser->nsWellFormed) {
    if (xmlNode* root = xmlDocGetRootElement(doc)) ReadTitleInfo(root, book);
  }
  xmlFreeDoc(doc);
  return !book.bookName.empty();
}

void TFb2Reader::readFb2Archives(const std::string& libDir) {
  if (!platform::DirectoryExists(libDir))
    throw platform::EFileError("Папка архивов не найдена: " + libDir, ENOENT);
  for (const platform::TFileInfo& entry : platform::ListFolder(libDir)) {
    const std::string path = platform::JoinPath(libDir, entry.name);
    if (!EndsWithNoCase(entry.name, ".zip") || !platform::FileExists(path)) continue;
    rep_->host.showSB("Чтение файла...", entry.name, " ");
    if (rep_->host.StopRequested()) return;
    readFb2Zip(path);
  }
}

void TFb2Reader::readFb2Zip(const std::string& zipPath) {
  TJobHost& host = rep_->host;
  TBookSink& sink = rep_->sink;
  TBOOK& book = rep_->book;
  AnsiString& head = rep_->head;

  // Damaged archives and members are the collection's, not the build's:
  // each is counted and passed over.
  auto readable = [](auto&& work) {
    try {
      work();
      return true;
    } catch (const archiver::EZAException&) {
    } catch (const archiver::EZlibError&) {
    } catch (const platform::EStreamError&) {
    }
    return false;
  };
  auto guarded = [&](auto&& work) {
    if (readable(work)) return true;
    sink.readError();
    return false;
  };

  archiver::TZipArchiver zip;
  zip.SetFileName(zipPath);
  // An archive whose directory must be rebuilt (one cut short, say) is a
  // read error too; the books the rebuilt directory still finds are read.
  zip.SetOpenCorruptedArchives(false);
  const auto open = [&] { zip.OpenArchive(archiver::ZAModeRead); };
  if (!guarded(open)) {
    zip.SetOpenCorruptedArchives(true);
    if (!readable(open)) return;
  }
  const int64_t items = std::max(zip.FileCount(), 1);

  uint64_t headSize = kFirstHead;  // not reset between members
  int64_t booksRead = 0;
  archiver::TZAArchiveItem F;
  for (bool found = zip.FindFirst("*.fb2", F, kMemberAttributes, ""); found; found = zip.FindNext(F)) {
    // The mask also takes "name.fb2." (a final dot counts for nothing).
    if (!EndsWithNoCase(F.FileName, ".fb2")) continue;
    ++rep_->members;
    const uint64_t size = static_cast<uint64_t>(F.UncompressedSize);
    bool titled = false;
    if (F.Encrypted) {
      sink.readError();  // its head cannot be read without asking for a password
    } else {
      const std::string stored = F.StoredPath + F.FileName;
      guarded([&] {
        while (true) {
          head.resize(static_cast<size_t>(std::min(headSize, size)));
          if (!head.empty()) zip.ExtractToBuffer(stored, head.data(), static_cast<int>(head.size()), 0);
          titled = parseFb2Header(head, book);
          if (titled || headSize >= kLastHead) break;
          headSize *= 2;
        }
      });
    }
    if (titled) {
      book.fname = BlankControls(platform::Utf8ToAnsi(F.FileName.substr(0, F.FileName.size() - 4)));
      book.fname.resize(std::min(book.fname.size(), kFileWidth));
      book.fname.erase(book.fname.find_last_not_of(' ') + 1);
      book.fsize = std::to_string(std::min(size, kLargestSize));
      sink.appendBook(book, book.fname);
      ++booksRead;
    }
    if (booksRead % kProgressBooks == 0)
      host.showSB("", "", std::to_string((booksRead * 200 + items) / (2 * items)) + "%");
    if (host.StopRequested()) break;
  }
  host.showSB("", "", "100%");
}

}  // namespace catalogue
