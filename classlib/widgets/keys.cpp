#include "classlib/widgets/keys.h"

#include <Qt>
#include <array>
#include <utility>

namespace kavrin::classlib {

namespace {

// Keys whose virtual code is not the key's character.
constexpr std::array<std::pair<int, Word>, 30> kNamedKeys{{
    {Qt::Key_Backspace, VK_BACK},   {Qt::Key_Tab, VK_TAB},           {Qt::Key_Backtab, VK_TAB},
    {Qt::Key_Return, VK_RETURN},    {Qt::Key_Enter, VK_RETURN},      {Qt::Key_Shift, VK_SHIFT},
    {Qt::Key_Control, VK_CONTROL},  {Qt::Key_Alt, VK_MENU},          {Qt::Key_Pause, VK_PAUSE},
    {Qt::Key_CapsLock, VK_CAPITAL}, {Qt::Key_Escape, VK_ESCAPE},     {Qt::Key_Space, VK_SPACE},
    {Qt::Key_PageUp, VK_PRIOR},     {Qt::Key_PageDown, VK_NEXT},     {Qt::Key_End, VK_END},
    {Qt::Key_Home, VK_HOME},        {Qt::Key_Left, VK_LEFT},         {Qt::Key_Up, VK_UP},
    {Qt::Key_Right, VK_RIGHT},      {Qt::Key_Down, VK_DOWN},         {Qt::Key_Insert, VK_INSERT},
    {Qt::Key_Delete, VK_DELETE},    {Qt::Key_Asterisk, VK_MULTIPLY}, {Qt::Key_Plus, VK_ADD},
    {Qt::Key_Minus, VK_SUBTRACT},   {Qt::Key_Period, VK_DECIMAL},    {Qt::Key_Slash, VK_DIVIDE},
    {Qt::Key_Meta, 0x5B},           {Qt::Key_Print, 0x2C},           {Qt::Key_ScrollLock, 0x91},
}};

}  // namespace

Word VirtualKeyFromQtKey(int qtKey, bool keypad) {
  if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) {
    return static_cast<Word>(keypad ? VK_NUMPAD0 + (qtKey - Qt::Key_0) : '0' + (qtKey - Qt::Key_0));
  }
  if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return static_cast<Word>('A' + (qtKey - Qt::Key_A));
  if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) return static_cast<Word>(VK_F1 + (qtKey - Qt::Key_F1));
  // Keypad operators only: the main keyboard's "-" or "." are not the keypad's keys.
  if (!keypad && (qtKey == Qt::Key_Asterisk || qtKey == Qt::Key_Plus || qtKey == Qt::Key_Minus ||
                  qtKey == Qt::Key_Period || qtKey == Qt::Key_Slash)) {
    switch (qtKey) {
      case Qt::Key_Minus: return 0xBD;   // VK_OEM_MINUS
      case Qt::Key_Period: return 0xBE;  // VK_OEM_PERIOD
      case Qt::Key_Plus: return 0xBB;    // VK_OEM_PLUS
      case Qt::Key_Slash: return 0xBF;   // VK_OEM_2
      default: break;
    }
  }
  for (const auto& [qt, vk] : kNamedKeys) {
    if (qt == qtKey) return vk;
  }
  return 0;
}

int QtKeyFromVirtualKey(Word key) {
  if (key >= '0' && key <= '9') return Qt::Key_0 + (key - '0');
  if (key >= 'A' && key <= 'Z') return Qt::Key_A + (key - 'A');
  if (key >= VK_NUMPAD0 && key <= VK_NUMPAD0 + 9) return Qt::Key_0 + (key - VK_NUMPAD0);
  if (key >= VK_F1 && key <= VK_F1 + 23) return Qt::Key_F1 + (key - VK_F1);
  for (const auto& [qt, vk] : kNamedKeys) {
    if (vk == key && qt != Qt::Key_Backtab && qt != Qt::Key_Enter) return qt;
  }
  return 0;
}

}  // namespace kavrin::classlib
