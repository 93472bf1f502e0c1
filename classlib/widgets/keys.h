// Keys as Windows virtual-key codes, the way the programs' key handlers compare them, and the mapping
// from Qt's key codes.
#pragma once

#include <cstdint>

namespace kavrin::classlib {

using Word = std::uint16_t;

// Values of the Windows virtual-key set that the programs and the grids test.
enum : Word {
  VK_BACK = 0x08,
  VK_TAB = 0x09,
  VK_RETURN = 0x0D,
  VK_SHIFT = 0x10,
  VK_CONTROL = 0x11,
  VK_MENU = 0x12,
  VK_PAUSE = 0x13,
  VK_CAPITAL = 0x14,
  VK_ESCAPE = 0x1B,
  VK_SPACE = 0x20,
  VK_PRIOR = 0x21,
  VK_NEXT = 0x22,
  VK_END = 0x23,
  VK_HOME = 0x24,
  VK_LEFT = 0x25,
  VK_UP = 0x26,
  VK_RIGHT = 0x27,
  VK_DOWN = 0x28,
  VK_INSERT = 0x2D,
  VK_DELETE = 0x2E,
  VK_NUMPAD0 = 0x60,
  VK_MULTIPLY = 0x6A,
  VK_ADD = 0x6B,
  VK_SUBTRACT = 0x6D,
  VK_DECIMAL = 0x6E,
  VK_DIVIDE = 0x6F,
  VK_F1 = 0x70,
  VK_F2 = 0x71,
  VK_F12 = 0x7B,
};

// The modifier and mouse-button set of a key or mouse event.
struct TShiftState {
  bool Shift = false;
  bool Alt = false;
  bool Ctrl = false;
  bool Left = false;
  bool Right = false;
  bool Middle = false;
  bool Double = false;

  bool Empty() const { return !Shift && !Alt && !Ctrl && !Left && !Right && !Middle && !Double; }
  // Only the keyboard modifiers, as the grids' "no modifier" and "only Shift" tests read them.
  bool NoKeyModifier() const { return !Shift && !Alt && !Ctrl; }
  bool OnlyShift() const { return Shift && !Alt && !Ctrl; }
  bool operator==(const TShiftState&) const = default;
};

// Qt key code (Qt::Key) and keypad flag to the virtual-key code; 0 when the key has none.
Word VirtualKeyFromQtKey(int qtKey, bool keypad);
// The Qt key code for a virtual-key code; 0 when there is none. Keypad digits give the plain digits.
int QtKeyFromVirtualKey(Word key);

}  // namespace kavrin::classlib
