#include "platform/posix/key_decoder.h"

namespace platform::posix {
namespace {

constexpr std::uint8_t escape = 27;

// A key as Windows reports its key-down. `state` holds ENHANCED_KEY and the
// modifier bits (SHIFT_PRESSED, LEFT_CTRL_PRESSED, LEFT_ALT_PRESSED).
struct Key {
  std::uint16_t virtualKey;
  std::uint16_t scan;
  std::uint8_t character;
  std::uint32_t state;
};

// ---------------------------------------------------------------------------
// Keys of a US keyboard
// ---------------------------------------------------------------------------

// The cursor block and the function keys give no character; the cursor
// block, keypad Enter and keypad "/" are enhanced keys.
constexpr Key keyUp{0x26, 72, 0, ENHANCED_KEY};
constexpr Key keyDown{0x28, 80, 0, ENHANCED_KEY};
constexpr Key keyRight{0x27, 77, 0, ENHANCED_KEY};
constexpr Key keyLeft{0x25, 75, 0, ENHANCED_KEY};
constexpr Key keyHome{0x24, 71, 0, ENHANCED_KEY};
constexpr Key keyEnd{0x23, 79, 0, ENHANCED_KEY};
constexpr Key keyInsert{0x2D, 82, 0, ENHANCED_KEY};
constexpr Key keyDelete{0x2E, 83, 0, ENHANCED_KEY};
constexpr Key keyPageUp{0x21, 73, 0, ENHANCED_KEY};
constexpr Key keyPageDown{0x22, 81, 0, ENHANCED_KEY};
constexpr Key keyClear{0x0C, 76, 0, 0};  // keypad 5 with Num Lock off
constexpr Key keyF1{0x70, 59, 0, 0};
constexpr Key keyF2{0x71, 60, 0, 0};
constexpr Key keyF3{0x72, 61, 0, 0};
constexpr Key keyF4{0x73, 62, 0, 0};
constexpr Key keyF5{0x74, 63, 0, 0};
constexpr Key keyF6{0x75, 64, 0, 0};
constexpr Key keyF7{0x76, 65, 0, 0};
constexpr Key keyF8{0x77, 66, 0, 0};
constexpr Key keyF9{0x78, 67, 0, 0};
constexpr Key keyF10{0x79, 68, 0, 0};
constexpr Key keyF11{0x7A, 87, 0, 0};
constexpr Key keyF12{0x7B, 88, 0, 0};
constexpr Key keyEnter{0x0D, 28, 13, 0};
constexpr Key keyTab{0x09, 15, 9, 0};
constexpr Key keyBackspace{0x08, 14, 8, 0};
constexpr Key keyEscape{0x1B, 1, 27, 0};
constexpr Key keyBackTab{0x09, 15, 9, SHIFT_PRESSED};
constexpr Key keypadEnter{0x0D, 28, 13, ENHANCED_KEY};
constexpr Key keypadDivide{0x6F, 53, '/', ENHANCED_KEY};
constexpr Key keypadMultiply{0x6A, 55, '*', 0};
constexpr Key keypadSubtract{0x6D, 74, '-', 0};
constexpr Key keypadAdd{0x6B, 78, '+', 0};
constexpr Key keypadDecimal{0x6E, 83, '.', 0};
constexpr Key keypadSeparator{0x6C, 83, ',', 0};
constexpr Key keypadEqual{0xBB, 13, '=', 0};  // no such key: the "=" key

// Num Lock on: VK_NUMPAD0 to VK_NUMPAD9 with their digit.
constexpr Key KeypadDigit(int digit) {
  constexpr std::uint16_t scans[10] = {82, 79, 80, 81, 75, 76, 77, 71, 72, 73};
  return Key{static_cast<std::uint16_t>(0x60 + digit), scans[digit],
             static_cast<std::uint8_t>('0' + digit), 0};
}

// The printable keys: the character without and with Shift.
struct PrintableKey {
  char plain;
  char shifted;
  std::uint16_t virtualKey;
  std::uint16_t scan;
};

constexpr PrintableKey printableKeys[] = {
    {'`', '~', 0xC0, 41},  {'1', '!', '1', 2},    {'2', '@', '2', 3},
    {'3', '#', '3', 4},    {'4', '$', '4', 5},    {'5', '%', '5', 6},
    {'6', '^', '6', 7},    {'7', '&', '7', 8},    {'8', '*', '8', 9},
    {'9', '(', '9', 10},   {'0', ')', '0', 11},   {'-', '_', 0xBD, 12},
    {'=', '+', 0xBB, 13},  {'q', 'Q', 'Q', 16},   {'w', 'W', 'W', 17},
    {'e', 'E', 'E', 18},   {'r', 'R', 'R', 19},   {'t', 'T', 'T', 20},
    {'y', 'Y', 'Y', 21},   {'u', 'U', 'U', 22},   {'i', 'I', 'I', 23},
    {'o', 'O', 'O', 24},   {'p', 'P', 'P', 25},   {'[', '{', 0xDB, 26},
    {']', '}', 0xDD, 27},  {'\\', '|', 0xDC, 43}, {'a', 'A', 'A', 30},
    {'s', 'S', 'S', 31},   {'d', 'D', 'D', 32},   {'f', 'F', 'F', 33},
    {'g', 'G', 'G', 34},   {'h', 'H', 'H', 35},   {'j', 'J', 'J', 36},
    {'k', 'K', 'K', 37},   {'l', 'L', 'L', 38},   {';', ':', 0xBA, 39},
    {'\'', '"', 0xDE, 40}, {'z', 'Z', 'Z', 44},   {'x', 'X', 'X', 45},
    {'c', 'C', 'C', 46},   {'v', 'V', 'V', 47},   {'b', 'B', 'B', 48},
    {'n', 'N', 'N', 49},   {'m', 'M', 'M', 50},   {',', '<', 0xBC, 51},
    {'.', '>', 0xBE, 52},  {'/', '?', 0xBF, 53},  {' ', ' ', 0x20, 57},
};

// The key that types the ASCII character `c` (32 to 126).
Key PrintableKeyOf(std::uint8_t c) {
  for (const PrintableKey& key : printableKeys) {
    if (key.plain == c) return Key{key.virtualKey, key.scan, c, 0};
    if (key.shifted == c) {
      return Key{key.virtualKey, key.scan, c, SHIFT_PRESSED};
    }
  }
  return Key{0, 0, c, 0};
}

// The control bytes. Ctrl with a letter gives the letter's position in the
// alphabet, except where a key of its own sends that byte: Backspace (8,
// and DEL), Tab (9) and Enter (13). A terminal that turns CR into LF sends
// 10 for Enter, and Ctrl-J cannot be told from it, so 10 is Enter too.
Key ControlKeyOf(std::uint8_t c) {
  switch (c) {
    case 0:
      return Key{0x20, 57, 0, LEFT_CTRL_PRESSED};  // Ctrl+Space
    case 8:
    case 127:
      return keyBackspace;
    case 9:
      return keyTab;
    case 10:
    case 13:
      return keyEnter;
    case 27:
      return keyEscape;
    case 28:
      return Key{0xDC, 43, 28, LEFT_CTRL_PRESSED};  // Ctrl+backslash
    case 29:
      return Key{0xDD, 27, 29, LEFT_CTRL_PRESSED};  // Ctrl+]
    case 30:
      return Key{'6', 7, 30, LEFT_CTRL_PRESSED | SHIFT_PRESSED};  // Ctrl+^
    case 31:
      return Key{0xBD, 12, 31, LEFT_CTRL_PRESSED | SHIFT_PRESSED};  // Ctrl+_
    default: {
      Key letter = PrintableKeyOf(static_cast<std::uint8_t>('a' + c - 1));
      return Key{letter.virtualKey, letter.scan, c, LEFT_CTRL_PRESSED};
    }
  }
}

// ---------------------------------------------------------------------------
// Escape sequences
// ---------------------------------------------------------------------------

// The final byte of a CSI ("ESC [") or SS3 ("ESC O") sequence, and the key.
struct FinalKey {
  std::uint8_t final;
  Key key;
};

// Both introducers: the cursor keys in normal and in application cursor
// mode, F1 to F4 as VT100 PF keys (SS3) or with modifiers (CSI 1;m P).
constexpr FinalKey cursorFinals[] = {
    {'A', keyUp},   {'B', keyDown}, {'C', keyRight}, {'D', keyLeft},
    {'H', keyHome}, {'F', keyEnd},  {'E', keyClear}, {'P', keyF1},
    {'Q', keyF2},   {'R', keyF3},   {'S', keyF4},
};

// SS3 only: the keypad in application keypad mode; rxvt's Ctrl+arrows.
constexpr FinalKey keypadFinals[] = {
    {'M', keypadEnter},     {'o', keypadDivide},   {'j', keypadMultiply},
    {'m', keypadSubtract},  {'k', keypadAdd},      {'n', keypadDecimal},
    {'l', keypadSeparator}, {'X', keypadEqual},    {'p', KeypadDigit(0)},
    {'q', KeypadDigit(1)},  {'r', KeypadDigit(2)}, {'s', KeypadDigit(3)},
    {'t', KeypadDigit(4)},  {'u', KeypadDigit(5)}, {'v', KeypadDigit(6)},
    {'w', KeypadDigit(7)},  {'x', KeypadDigit(8)}, {'y', KeypadDigit(9)},
    {'a', Key{keyUp.virtualKey, keyUp.scan, 0, ENHANCED_KEY | LEFT_CTRL_PRESSED}},
    {'b', Key{keyDown.virtualKey, keyDown.scan, 0, ENHANCED_KEY | LEFT_CTRL_PRESSED}},
    {'c', Key{keyRight.virtualKey, keyRight.scan, 0, ENHANCED_KEY | LEFT_CTRL_PRESSED}},
    {'d', Key{keyLeft.virtualKey, keyLeft.scan, 0, ENHANCED_KEY | LEFT_CTRL_PRESSED}},
};

// CSI only: back tab; rxvt's Shift+arrows.
constexpr FinalKey csiFinals[] = {
    {'Z', keyBackTab},
    {'a', Key{keyUp.virtualKey, keyUp.scan, 0, ENHANCED_KEY | SHIFT_PRESSED}},
    {'b', Key{keyDown.virtualKey, keyDown.scan, 0, ENHANCED_KEY | SHIFT_PRESSED}},
    {'c', Key{keyRight.virtualKey, keyRight.scan, 0, ENHANCED_KEY | SHIFT_PRESSED}},
    {'d', Key{keyLeft.virtualKey, keyLeft.scan, 0, ENHANCED_KEY | SHIFT_PRESSED}},
};

// "CSI n ~" (and rxvt's "CSI n ^", "$", "@"): the VT220 editing keys as
// xterm and the Linux console send them, rxvt's 7 and 8 for Home and End,
// the function keys.
struct NumberKey {
  int number;
  Key key;
};

constexpr NumberKey tildeKeys[] = {
    {1, keyHome},    {2, keyInsert}, {3, keyDelete}, {4, keyEnd},
    {5, keyPageUp},  {6, keyPageDown}, {7, keyHome}, {8, keyEnd},
    {11, keyF1},     {12, keyF2},    {13, keyF3},    {14, keyF4},
    {15, keyF5},     {17, keyF6},    {18, keyF7},    {19, keyF8},
    {20, keyF9},     {21, keyF10},   {23, keyF11},   {24, keyF12},
};

// The Linux console's F1 to F5: "CSI [ A" to "CSI [ E".
constexpr Key linuxFunctionKeys[] = {keyF1, keyF2, keyF3, keyF4, keyF5};

const Key* FindFinal(const FinalKey* table, int size, std::uint8_t final) {
  for (int i = 0; i < size; ++i) {
    if (table[i].final == final) return &table[i].key;
  }
  return nullptr;
}

template <int size>
const Key* FindFinal(const FinalKey (&table)[size], std::uint8_t final) {
  return FindFinal(table, size, final);
}

const Key* FindTildeKey(int number) {
  for (const NumberKey& entry : tildeKeys) {
    if (entry.number == number) return &entry.key;
  }
  return nullptr;
}

// The xterm modifier parameter: 1 + (1 Shift, 2 Alt, 4 Ctrl, 8 Meta).
std::uint32_t ModifiersOf(int parameter) {
  if (parameter < 2) return 0;
  int bits = parameter - 1;
  std::uint32_t state = 0;
  if (bits & 1) state |= SHIFT_PRESSED;
  if (bits & (2 | 8)) state |= LEFT_ALT_PRESSED;
  if (bits & 4) state |= LEFT_CTRL_PRESSED;
  return state;
}

Key WithModifiers(Key key, std::uint32_t modifiers) {
  key.state |= modifiers;
  // Ctrl+Enter gives LF, as on a Windows console.
  if ((modifiers & LEFT_CTRL_PRESSED) && key.character == 13) {
    key.character = 10;
  }
  return key;
}

// ---------------------------------------------------------------------------
// Parsing
// ---------------------------------------------------------------------------

enum class Found : std::uint8_t { incomplete, nothing, key, focus };

struct Parsed {
  Found found;
  int consumed;
  Key key;
};

constexpr Parsed incomplete{Found::incomplete, 0, {}};

Parsed KeyOf(const Key& key, int consumed) {
  return Parsed{Found::key, consumed, key};
}
Parsed Nothing(int consumed) { return Parsed{Found::nothing, consumed, {}}; }

// Longest escape sequence we wait for; anything longer is noise.
constexpr int longestSequence = 32;

// Parameters of a control sequence: numbers separated by ";".
struct Parameters {
  int count;
  int values[4];
  bool privateMarker;  // "<", "=", ">" or "?" first: not a key report
};

int Parameter(const Parameters& parameters, int index, int missing) {
  return index < parameters.count ? parameters.values[index] : missing;
}

// Reads parameter bytes (0x30 to 0x3F) from bytes[start]. Returns the index
// of the first byte after them.
int ReadParameters(const std::uint8_t* bytes, int count, int start,
                   Parameters* parameters) {
  *parameters = Parameters{};
  int i = start;
  bool inNumber = false;
  for (; i < count && bytes[i] >= 0x30 && bytes[i] <= 0x3F; ++i) {
    std::uint8_t b = bytes[i];
    if (b >= '0' && b <= '9') {
      if (!inNumber) {
        if (parameters->count < 4) parameters->values[parameters->count] = 0;
        ++parameters->count;
        inNumber = true;
      }
      int slot = parameters->count - 1;
      if (slot < 4 && parameters->values[slot] < 100000) {
        parameters->values[slot] = parameters->values[slot] * 10 + (b - '0');
      }
    } else if (b == ';' || b == ':') {
      if (!inNumber) {
        if (parameters->count < 4) parameters->values[parameters->count] = 0;
        ++parameters->count;
      }
      inNumber = false;
    } else if (i == start) {
      parameters->privateMarker = true;
    }
  }
  if (parameters->count > 4) parameters->count = 4;
  return i;
}

// A sequence cut short: with more bytes to come, wait for them; else, after
// the wait, the bytes are noise and are dropped.
Parsed Unfinished(int count, bool complete) {
  if (!complete && count < longestSequence) return incomplete;
  return Nothing(count);
}

// bytes[0, 2) is "ESC [".
Parsed ParseCsi(const std::uint8_t* bytes, int count, bool complete) {
  if (count == 2) {
    if (!complete) return incomplete;
    return KeyOf(WithModifiers(PrintableKeyOf('['), LEFT_ALT_PRESSED), 2);
  }
  if (bytes[2] == '[') {  // the Linux console's function keys
    if (count == 3) return Unfinished(count, complete);
    std::uint8_t final = bytes[3];
    if (final >= 'A' && final <= 'E') {
      return KeyOf(linuxFunctionKeys[final - 'A'], 4);
    }
    return Nothing(4);
  }
  Parameters parameters;
  int i = ReadParameters(bytes, count, 2, &parameters);
  // Intermediate bytes; rxvt ends its Shift forms with "$".
  while (i < count && bytes[i] >= 0x20 && bytes[i] <= 0x2F && bytes[i] != '$') {
    ++i;
  }
  if (i == count) return Unfinished(count, complete);
  std::uint8_t final = bytes[i];
  int consumed = i + 1;
  if (final < 0x40 && final != '$') return Nothing(i);  // broken off
  if (final > 0x7E) return Nothing(i);
  if (parameters.privateMarker) return Nothing(consumed);

  int first = Parameter(parameters, 0, 1);
  std::uint32_t modifiers = ModifiersOf(Parameter(parameters, 1, 1));
  switch (final) {
    case '~':
    case '^':
    case '$':
    case '@': {
      const Key* key = FindTildeKey(first);
      if (key == nullptr) return Nothing(consumed);
      if (final == '^' || final == '@') modifiers |= LEFT_CTRL_PRESSED;
      if (final == '$' || final == '@') modifiers |= SHIFT_PRESSED;
      return KeyOf(WithModifiers(*key, modifiers), consumed);
    }
    case 'I':
    case 'O':
      if (parameters.count == 0) return Parsed{Found::focus, consumed, {}};
      return Nothing(consumed);
    default:
      break;
  }
  // Letter finals carry no number but 1 before the modifier; anything else
  // (a cursor position report that strayed here) is no key.
  if (first != 1) return Nothing(consumed);
  // Keypad keys with a modifier come as CSI too: "CSI 1;5M" is Ctrl with
  // keypad Enter.
  const Key* key = FindFinal(cursorFinals, final);
  if (key == nullptr && parameters.count >= 2) {
    key = FindFinal(keypadFinals, final);
  }
  if (key == nullptr) key = FindFinal(csiFinals, final);
  if (key == nullptr) return Nothing(consumed);
  return KeyOf(WithModifiers(*key, modifiers), consumed);
}

// bytes[0, 2) is "ESC O" and more follows.
Parsed ParseSs3(const std::uint8_t* bytes, int count, bool complete) {
  Parameters parameters;
  int i = ReadParameters(bytes, count, 2, &parameters);
  if (i == count) return Unfinished(count, complete);
  std::uint8_t final = bytes[i];
  int consumed = i + 1;
  if (final < 0x40 || final > 0x7E) return Nothing(i);
  // Old xterms send the modifier alone: "ESC O 5 A".
  std::uint32_t modifiers =
      parameters.count > 0 ? ModifiersOf(parameters.values[parameters.count - 1])
                           : 0;
  const Key* key = FindFinal(cursorFinals, final);
  if (key == nullptr) key = FindFinal(keypadFinals, final);
  if (key == nullptr) return Nothing(consumed);
  return KeyOf(WithModifiers(*key, modifiers), consumed);
}

Parsed ParseKey(const std::uint8_t* bytes, int count, bool complete);

// A character that no key of a US keyboard types: no virtual key, no scan
// code.
constexpr Key unknownCharacter{0, 0, '?', 0};

// One UTF-8 character. A malformed one gives "?".
Parsed ParseUtf8(const std::uint8_t* bytes, int count, bool complete) {
  std::uint8_t lead = bytes[0];
  int length;
  std::uint32_t codePoint;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    codePoint = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    codePoint = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    codePoint = lead & 0x07;
  } else {
    return KeyOf(unknownCharacter, 1);
  }
  int i = 1;
  for (; i < length && i < count; ++i) {
    if ((bytes[i] & 0xC0) != 0x80) return KeyOf(unknownCharacter, i);
    codePoint = (codePoint << 6) | (bytes[i] & 0x3F);
  }
  if (i < length) {
    if (!complete) return incomplete;
    return KeyOf(unknownCharacter, i);
  }
  // Overlong forms and surrogates are malformed too.
  bool malformed = (length == 3 && codePoint < 0x800) ||
                   (length == 4 && (codePoint < 0x10000 || codePoint > 0x10FFFF)) ||
                   (codePoint >= 0xD800 && codePoint <= 0xDFFF);
  Key key = unknownCharacter;
  if (!malformed) key.character = Windows1252FromCodePoint(codePoint);
  return KeyOf(key, length);
}

// bytes[0] is ESC.
Parsed ParseEscape(const std::uint8_t* bytes, int count, bool complete) {
  if (count == 1) {
    if (!complete) return incomplete;
    return KeyOf(keyEscape, 1);
  }
  if (bytes[1] == '[') return ParseCsi(bytes, count, complete);
  if (bytes[1] == 'O') {
    if (count > 2) return ParseSs3(bytes, count, complete);
    if (!complete) return incomplete;
  }
  // ESC before a key, or before a sequence, is Alt with that key. Two ESCs
  // not followed by a sequence are Alt+Esc.
  if (bytes[1] == escape) {
    if (count == 2 && !complete) return incomplete;
    if (count == 2 || (bytes[2] != '[' && bytes[2] != 'O')) {
      return KeyOf(WithModifiers(keyEscape, LEFT_ALT_PRESSED), 2);
    }
  }
  Parsed inner = ParseKey(bytes + 1, count - 1, complete);
  if (inner.found == Found::incomplete) return inner;
  inner.consumed += 1;
  if (inner.found == Found::key) inner.key.state |= LEFT_ALT_PRESSED;
  return inner;
}

Parsed ParseKey(const std::uint8_t* bytes, int count, bool complete) {
  std::uint8_t b = bytes[0];
  if (b == escape) return ParseEscape(bytes, count, complete);
  if (b < 0x20 || b == 0x7F) return KeyOf(ControlKeyOf(b), 1);
  if (b < 0x80) return KeyOf(PrintableKeyOf(b), 1);
  return ParseUtf8(bytes, count, complete);
}

// ---------------------------------------------------------------------------
// Events
// ---------------------------------------------------------------------------

InputRecord KeyEvent(bool down, std::uint16_t virtualKey, std::uint16_t scan,
                     std::uint8_t character, std::uint32_t state) {
  InputRecord record{};
  record.EventType = KEY_EVENT;
  record.KeyEvent.bKeyDown = down;
  record.KeyEvent.wRepeatCount = 1;
  record.KeyEvent.wVirtualKeyCode = virtualKey;
  record.KeyEvent.wVirtualScanCode = scan;
  record.KeyEvent.AsciiChar = static_cast<char>(character);
  record.KeyEvent.dwControlKeyState = state;
  return record;
}

struct Modifier {
  std::uint32_t bit;
  std::uint16_t virtualKey;
  std::uint16_t scan;
};

// In the order they are pressed; released in the reverse order.
constexpr Modifier modifiers[] = {
    {LEFT_CTRL_PRESSED, 0x11, 29},
    {LEFT_ALT_PRESSED, 0x12, 56},
    {SHIFT_PRESSED, 0x10, 42},
};

void AddEvent(DecodedInput* out, const InputRecord& record) {
  out->events[out->eventCount++] = record;
}

// The modifiers' state bits track what is held at each event.
void AddKeyEvents(DecodedInput* out, const Key& key) {
  std::uint32_t held = 0;
  for (const Modifier& modifier : modifiers) {
    if (!(key.state & modifier.bit)) continue;
    held |= modifier.bit;
    AddEvent(out, KeyEvent(true, modifier.virtualKey, modifier.scan, 0, held));
  }
  AddEvent(out, KeyEvent(true, key.virtualKey, key.scan, key.character,
                         key.state));
  AddEvent(out, KeyEvent(false, key.virtualKey, key.scan, key.character,
                         key.state));
  for (int i = 2; i >= 0; --i) {
    const Modifier& modifier = modifiers[i];
    if (!(key.state & modifier.bit)) continue;
    held &= ~modifier.bit;
    AddEvent(out, KeyEvent(false, modifier.virtualKey, modifier.scan, 0, held));
  }
}

}  // namespace

DecodedInput DecodeTerminalInput(const std::uint8_t* bytes, int count,
                                 bool complete) {
  DecodedInput out{};
  if (count <= 0) return out;
  Parsed parsed = ParseKey(bytes, count, complete);
  out.consumed = parsed.consumed;
  if (parsed.found == Found::key) {
    AddKeyEvents(&out, parsed.key);
  } else if (parsed.found == Found::focus) {
    InputRecord record{};
    record.EventType = FOCUS_EVENT;
    AddEvent(&out, record);
  }
  return out;
}

// U+0080 to U+009F are C1 controls with no Windows-1252 character; the
// bytes 0x80 to 0x9F stand for these instead.
std::uint8_t Windows1252FromCodePoint(std::uint32_t codePoint) {
  struct Mapping {
    std::uint16_t codePoint;
    std::uint8_t byte;
  };
  static constexpr Mapping upper[] = {
      {0x20AC, 0x80}, {0x201A, 0x82}, {0x0192, 0x83}, {0x201E, 0x84},
      {0x2026, 0x85}, {0x2020, 0x86}, {0x2021, 0x87}, {0x02C6, 0x88},
      {0x2030, 0x89}, {0x0160, 0x8A}, {0x2039, 0x8B}, {0x0152, 0x8C},
      {0x017D, 0x8E}, {0x2018, 0x91}, {0x2019, 0x92}, {0x201C, 0x93},
      {0x201D, 0x94}, {0x2022, 0x95}, {0x2013, 0x96}, {0x2014, 0x97},
      {0x02DC, 0x98}, {0x2122, 0x99}, {0x0161, 0x9A}, {0x203A, 0x9B},
      {0x0153, 0x9C}, {0x017E, 0x9E}, {0x0178, 0x9F},
  };
  if (codePoint < 0x80) return static_cast<std::uint8_t>(codePoint);
  if (codePoint >= 0xA0 && codePoint <= 0xFF) {
    return static_cast<std::uint8_t>(codePoint);
  }
  for (const Mapping& mapping : upper) {
    if (mapping.codePoint == codePoint) return mapping.byte;
  }
  return '?';
}

}  // namespace platform::posix
