// The small format language of the message tables.
#include "platform/Format.h"

#include <cstdio>

namespace platform {

namespace {

void Pad(std::string& out, std::string_view text, int width, bool left, char fill = ' ') {
  const int n = static_cast<int>(text.size());
  if (!left)
    for (int i = n; i < width; ++i) out += fill;
  out += text;
  if (left)
    for (int i = n; i < width; ++i) out += ' ';
}

}  // namespace

std::string Format(std::string_view fmt, std::initializer_list<TFormatArg> args) {
  std::string out;
  out.reserve(fmt.size() + 32);
  auto next = args.begin();
  size_t i = 0;
  while (i < fmt.size()) {
    const char c = fmt[i];
    if (c != '%') {
      out += c;
      ++i;
      continue;
    }
    if (i + 1 < fmt.size() && fmt[i + 1] == '%') {
      out += '%';
      i += 2;
      continue;
    }
    // %[-][width](s|d|u|x)
    size_t j = i + 1;
    bool left = false;
    if (j < fmt.size() && fmt[j] == '-') {
      left = true;
      ++j;
    }
    int width = 0;
    while (j < fmt.size() && fmt[j] >= '0' && fmt[j] <= '9' && width < 1000) width = width * 10 + (fmt[j++] - '0');
    if (j >= fmt.size() || (fmt[j] != 's' && fmt[j] != 'd' && fmt[j] != 'u' && fmt[j] != 'x') ||
        next == args.end()) {
      // Not a directive we know, or no argument left: keep the text as is.
      out.append(fmt.substr(i, (j < fmt.size() ? j + 1 : j) - i));
      i = j + 1;
      continue;
    }
    const char conv = fmt[j];
    const auto& v = next->Value();
    ++next;
    std::string text;
    if (const auto* num = std::get_if<int64_t>(&v)) {
      char buf[32];
      if (conv == 'x')
        std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(*num));
      else
        std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(*num));
      text = buf;
    } else {
      text = std::get<std::string>(v);
    }
    Pad(out, text, width, left);
    i = j + 1;
  }
  return out;
}

}  // namespace platform
