#pragma once

#include <span>
#include <string_view>

#include "platform/ui.h"

// What a dialog host builds its windows from: dialogs and popup menus as data, sizes and
// positions in dialog units. The player's own dialogs are written in this form in resources/.
namespace lumaro::platform::ui {

enum class ControlKind {
  kStatic,
  kStaticCentered,
  kDropDownList,        // not editable, vertical scroll bar
  kSortedDropDownList,  // as kDropDownList, entries kept sorted
  kHScrollBar,
  kPushButton,
  kDefaultPushButton,
  kCheckBox,  // toggles itself when clicked
  kMultiLineEdit,
};

struct ControlTemplate {
  ControlId id;
  ControlKind kind;
  std::u16string_view text;
  int x, y, width, height;
};

struct DialogTemplate {
  std::u16string_view name;
  std::u16string_view caption;
  int width, height;
  std::span<const ControlTemplate> controls;
};

struct MenuItemTemplate {
  ControlId id;
  std::u16string_view text;
};

// A popup menu: one submenu holding the items.
struct MenuTemplate {
  std::u16string_view name;
  std::span<const MenuItemTemplate> items;
};

// The dialogs and menus of a program, with the one font every dialog uses.
struct DialogResources {
  std::span<const DialogTemplate> dialogs;
  std::span<const MenuTemplate> menus;
  std::u16string_view font;
  int fontPoints = 0;

  // The dialog or menu named `name`, or nullptr.
  constexpr const DialogTemplate* Dialog(std::u16string_view name) const {
    for (const DialogTemplate& t : dialogs) {
      if (t.name == name) return &t;
    }
    return nullptr;
  }
  constexpr const MenuTemplate* Menu(std::u16string_view name) const {
    for (const MenuTemplate& m : menus) {
      if (m.name == name) return &m;
    }
    return nullptr;
  }
};

}  // namespace lumaro::platform::ui
