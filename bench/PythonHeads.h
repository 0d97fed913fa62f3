// The FB2 heads reading of the book-list build done in Python, for the
// benchmarks' ratios: zipfile reads the first 2,000 bytes of every "*.fb2"
// member of every "*.zip" archive of the folder argv[1] (in name order),
// xml.etree parses the title-info block; prints the number of books with a
// title.
#pragma once

namespace bench {

inline constexpr const char* kPythonHeads = R"(import os, sys, zipfile, xml.etree.ElementTree as ET
lib = sys.argv[1]
books = 0
for name in sorted(os.listdir(lib)):
    if not name.lower().endswith(".zip"):
        continue
    with zipfile.ZipFile(os.path.join(lib, name)) as z:
        for info in z.infolist():
            if not info.filename.lower().endswith(".fb2"):
                continue
            with z.open(info) as member:
                head = member.read(2000)
            start, end = head.find(b"<title-info"), head.find(b"</title-info")
            if start < 0 or end < 0:
                continue
            root = ET.fromstring(head[start:end + 13])
            if root.find("book-title") is not None:
                books += 1
print("%d books" % books)
)";

}  // namespace bench
