#include "messages.h"

#include <unistd.h>

#include <cstddef>
#include <cstring>

namespace vornagent {

namespace {

void write_all(const char *text, std::size_t length) {
  while (length > 0) {
    ssize_t written = write(STDOUT_FILENO, text, length);
    if (written <= 0) return;
    text += written;
    length -= static_cast<std::size_t>(written);
  }
}

// A line built in a fixed buffer; what does not fit is cut off.
class Line {
 public:
  Line &text(const char *part) {
    for (; *part != '\0' && length_ < sizeof buffer_; ++part) buffer_[length_++] = *part;
    return *this;
  }
  Line &decimal(int value) {
    char digits[12];
    std::size_t count = 0;
    unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    do {
      digits[count++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude > 0);
    if (value < 0) digits[count++] = '-';
    while (count > 0 && length_ < sizeof buffer_) buffer_[length_++] = digits[--count];
    return *this;
  }
  void write() const { write_all(buffer_, length_); }

 private:
  char buffer_[256];
  std::size_t length_ = 0;
};

}  // namespace

void print_message(const char *source, int line, const char *text) {
  Line().text(source).text("(").decimal(line).text(") : ").text(text).text("\n").write();
}

void print_tagged(const char *source, int line, const char *rest) {
  Line().text(source).text("(").decimal(line).text(")").text(rest).write();
}

void print_text(const char *text) {
  write_all(text, std::strlen(text));
}

}  // namespace vornagent
