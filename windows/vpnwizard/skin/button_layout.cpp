#include "button_layout.h"

namespace tunmira {

int ButtonTextLines(std::string_view text) {
  int lines = 1;
  for (std::size_t at = text.find("\r\n"); at != std::string_view::npos; at = text.find("\r\n", at + 2))
    ++lines;
  return lines;
}

long ButtonTextTop(long frameHeight, int lines, long lineHeight) {
  long top = (frameHeight - lines * lineHeight) / 2;
  return top > 0 ? top : 0;
}

ButtonTextBox ButtonTextRect(ButtonFrame frame, long frameWidth, long frameHeight, long top, long clickX,
                             long clickY) {
  long left = 0;
  switch (frame) {
    case ButtonFrame::Pressed:
      left = frameWidth + clickX;
      top += clickY;
      break;
    case ButtonFrame::Hover:
      left = 2 * frameWidth;
      break;
    case ButtonFrame::Normal:
      break;
  }
  return {left, top, left + frameWidth, top + frameHeight};
}

}  // namespace tunmira
