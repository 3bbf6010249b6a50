// The dialog host of the Windows program: dialog boxes made in memory from the program's
// templates, their messages handed to the behaviours, and writes from other threads posted to
// the user-interface thread.
#include "platform/win32/dialog_win32.h"

#include "platform/win32/win32_api.h"
// After windows.h:
#include <shlwapi.h>
#include <windowsx.h>

#include <array>
#include <memory>

namespace lumaro::platform::ui {
namespace {

// Private messages of the host: apply the queued writes; run a read (lParam: the reader).
constexpr UINT kApplyQueuedMessage = WM_APP + 1;
constexpr UINT kRunReadMessage = WM_APP + 2;

// Atoms of the predefined window classes in a dialog template.
constexpr WORD kClassButton = 0x0080;
constexpr WORD kClassEdit = 0x0081;
constexpr WORD kClassStatic = 0x0082;
constexpr WORD kClassScrollBar = 0x0084;
constexpr WORD kClassComboBox = 0x0085;
constexpr WORD kOrdinalMarker = 0xFFFF;

constexpr DWORD kDialogStyle =
    WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER;
constexpr DWORD kChildStyle = WS_CHILD | WS_VISIBLE;

struct ControlClass {
  WORD atom;
  DWORD style;
};

ControlClass ClassOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::kStatic:
      return {kClassStatic, SS_LEFT | SS_NOPREFIX};
    case ControlKind::kStaticCentered:
      return {kClassStatic, SS_CENTER | SS_NOPREFIX};
    case ControlKind::kDropDownList:
      return {kClassComboBox, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP};
    case ControlKind::kSortedDropDownList:
      return {kClassComboBox, CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL | WS_TABSTOP};
    case ControlKind::kHScrollBar:
      return {kClassScrollBar, SBS_HORZ};
    case ControlKind::kPushButton:
      return {kClassButton, BS_PUSHBUTTON | WS_TABSTOP};
    case ControlKind::kDefaultPushButton:
      return {kClassButton, BS_DEFPUSHBUTTON | WS_TABSTOP};
    case ControlKind::kCheckBox:
      return {kClassButton, BS_AUTOCHECKBOX | WS_TABSTOP};
    case ControlKind::kMultiLineEdit:
      return {kClassEdit,
              ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | WS_VSCROLL | WS_BORDER | WS_TABSTOP};
  }
  return {kClassStatic, SS_LEFT};
}

// An in-memory dialog template (DLGTEMPLATE and its DLGITEMTEMPLATEs) in 16-bit words; the
// vector's storage is aligned for the DWORD fields.
class TemplateWords {
 public:
  void Word(WORD w) { words_.push_back(w); }
  void Dword(DWORD d) {
    Word(LOWORD(d));
    Word(HIWORD(d));
  }
  void Short(int value) { Word(static_cast<WORD>(static_cast<short>(value))); }
  void Text(std::u16string_view text) {
    for (char16_t c : text) Word(c);
    Word(0);
  }
  void AlignDword() {
    if (words_.size() % 2 != 0) Word(0);
  }
  const DLGTEMPLATE* Data() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  std::vector<WORD> words_;
};

TemplateWords BuildTemplate(const DialogTemplate& dialog, const DialogResources& resources) {
  TemplateWords t;
  t.Dword(kDialogStyle);
  t.Dword(0);  // extended style
  t.Word(static_cast<WORD>(dialog.controls.size()));
  t.Short(0);
  t.Short(0);
  t.Short(dialog.width);
  t.Short(dialog.height);
  t.Word(0);  // no menu
  t.Word(0);  // the dialog class
  t.Text(dialog.caption);
  t.Word(static_cast<WORD>(resources.fontPoints));
  t.Text(resources.font);
  for (const ControlTemplate& control : dialog.controls) {
    const ControlClass cls = ClassOf(control.kind);
    t.AlignDword();
    t.Dword(kChildStyle | cls.style);
    t.Dword(0);
    t.Short(control.x);
    t.Short(control.y);
    t.Short(control.width);
    t.Short(control.height);
    t.Word(static_cast<WORD>(control.id));
    t.Word(kOrdinalMarker);
    t.Word(cls.atom);
    t.Text(control.text);
    t.Word(0);  // no creation data
  }
  return t;
}

HWND AsWindow(void* window) { return static_cast<HWND>(window); }

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

std::u16string WindowText(HWND window) {
  if (window == nullptr) return {};
  const int length = ::GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int got = ::GetWindowTextW(window, text.data(), length + 1);
  return FromWide(text.data(), static_cast<std::size_t>(got > 0 ? got : 0));
}

LRESULT SendToControl(HWND dialog, ControlId id, UINT message, WPARAM w = 0, LPARAM l = 0) {
  HWND control = ::GetDlgItem(dialog, id);
  return control != nullptr ? ::SendMessageW(control, message, w, l) : CB_ERR;
}

// The paths of a drop in the shell's order; false when any could not be fetched whole.
bool DroppedPaths(HDROP drop, std::vector<std::u16string>* paths) {
  constexpr UINT kCountQuery = 0xFFFFFFFF;
  const UINT count = ::DragQueryFileW(drop, kCountQuery, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    const UINT length = ::DragQueryFileW(drop, i, nullptr, 0);
    std::wstring path(static_cast<std::size_t>(length) + 1, L'\0');
    if (::DragQueryFileW(drop, i, path.data(), length + 1) != length) break;
    paths->push_back(FromWide(path.data(), length));
  }
  return count != 0 && paths->size() == count;
}

bool IsActivation(WPARAM w) { return LOWORD(w) == WA_ACTIVE || LOWORD(w) == WA_CLICKACTIVE; }

}  // namespace

// The dialog procedure reaches the dialog's private parts through here.
struct Win32Dialog::Access {
  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_INITDIALOG) {
      ::SetWindowLongPtrW(window, DWLP_USER, l);
      reinterpret_cast<Win32Dialog*>(l)->window_ = window;
    }
    auto* dialog = reinterpret_cast<Win32Dialog*>(::GetWindowLongPtrW(window, DWLP_USER));
    return dialog != nullptr ? dialog->Handle(window, message, w, l) : FALSE;
  }
};

Win32Dialog::Win32Dialog(const DialogResources& resources) : resources_(resources) {}

Win32Dialog::~Win32Dialog() = default;

bool Win32Dialog::OnUiThread() const { return ::GetCurrentThreadId() == uiThread_.load(); }

void Win32Dialog::ApplyQueued() const {
  std::vector<std::function<void(void*)>> queued;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queued.swap(queued_);
    posted_ = false;
  }
  for (auto& write : queued) write(window_.load());
}

void Win32Dialog::Write(std::function<void(void*)> write) {
  if (OnUiThread()) {
    ApplyQueued();
    if (void* window = window_.load()) write(window);
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  void* window = window_.load();
  if (window == nullptr) return;
  queued_.push_back(std::move(write));
  if (!posted_) posted_ = ::PostMessageW(AsWindow(window), kApplyQueuedMessage, 0, 0) != FALSE;
}

template <class T, class Read>
T Win32Dialog::ReadValue(T fallback, Read&& read) const {
  if (OnUiThread()) {
    ApplyQueued();
    void* window = window_.load();
    return window != nullptr ? read(AsWindow(window)) : fallback;
  }
  void* window = window_.load();
  if (window == nullptr) return fallback;
  T value = fallback;
  std::function<void()> reader = [&] {
    if (void* current = window_.load()) value = read(AsWindow(current));
  };
  (void)::SendMessageW(AsWindow(window), kRunReadMessage, 0, reinterpret_cast<LPARAM>(&reader));
  return value;
}

std::intptr_t Win32Dialog::Deliver(const Message& message) {
  if (ended_ || behaviour_ == nullptr) return 0;
  return behaviour_->OnMessage(*this, message);
}

std::intptr_t Win32Dialog::Handle(void* handle, unsigned message, std::uintptr_t w,
                                  std::intptr_t l) {
  HWND window = AsWindow(handle);
  switch (message) {
    case kApplyQueuedMessage:
      ApplyQueued();
      return TRUE;
    case kRunReadMessage:
      ApplyQueued();
      (*reinterpret_cast<std::function<void()>*>(l))();
      return TRUE;
    case WM_INITDIALOG:
      (void)Deliver(InitDialog{});
      if (onShown_) onShown_(*this);
      return TRUE;
    case WM_TIMER:
      (void)Deliver(Timer{static_cast<int>(w)});
      return TRUE;
    case WM_HSCROLL:
      if (l == 0) return FALSE;  // the window's own scroll bar: the dialogs have none
      (void)Deliver(HScroll{::GetDlgCtrlID(reinterpret_cast<HWND>(l)), LOWORD(w)});
      return TRUE;
    case WM_COMMAND:
      (void)Deliver(Command{LOWORD(w), HIWORD(w)});
      return TRUE;
    case WM_DROPFILES: {
      auto* drop = reinterpret_cast<HDROP>(w);
      DropFiles files;
      const bool whole = DroppedPaths(drop, &files.paths);
      ::DragFinish(drop);
      if (whole && acceptsDrops_.load()) (void)Deliver(files);
      return TRUE;
    }
    case WM_RBUTTONUP:
      (void)Deliver(RButtonUp{GET_X_LPARAM(l), GET_Y_LPARAM(l)});
      return TRUE;
    case WM_CLOSE:
      (void)Deliver(Close{});
      return TRUE;
    case WM_DESTROY: {
      std::lock_guard<std::mutex> lock(mutex_);
      window_ = nullptr;
      queued_.clear();
      pathTexts_.clear();
      return FALSE;
    }
    default:
      break;
  }
  if (!mainChrome_) return FALSE;
  switch (message) {
    case WM_LBUTTONDOWN:
      ::PostMessageW(window, WM_NCLBUTTONDOWN, HTCAPTION, l);
      return TRUE;
    case WM_LBUTTONDBLCLK:
      ::ShowWindow(window, SW_SHOWMINIMIZED);
      return TRUE;
    case WM_ACTIVATE:
      if (!IsActivation(w)) return FALSE;
      [[fallthrough]];
    case WM_MOVE:
    case WM_SETFOCUS:
      ::InvalidateRect(window, nullptr, TRUE);
      return FALSE;
    case WM_SHOWWINDOW:
      if (w != FALSE) ::InvalidateRect(window, nullptr, TRUE);
      return FALSE;
    default:
      return FALSE;
  }
}

std::intptr_t Win32Dialog::Run(std::u16string_view templateName, DialogBehaviour& behaviour,
                               void* owner) {
  const DialogTemplate* dialog = resources_.Dialog(templateName);
  if (dialog == nullptr) return -1;
  const TemplateWords words = BuildTemplate(*dialog, resources_);
  uiThread_ = ::GetCurrentThreadId();
  behaviour_ = &behaviour;
  ended_ = false;
  const INT_PTR result =
      ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), words.Data(), AsWindow(owner),
                                &Access::Procedure, reinterpret_cast<LPARAM>(this));
  window_ = nullptr;  // also when the window was never made
  behaviour_ = nullptr;
  return result;
}

void Win32Dialog::SetCaption(std::u16string_view caption) {
  Write([text = Wide(caption)](void* w) { ::SetWindowTextW(AsWindow(w), text.c_str()); });
}

std::u16string Win32Dialog::Caption() const {
  return ReadValue(std::u16string(), [](HWND w) { return WindowText(w); });
}

void Win32Dialog::SetText(ControlId id, std::u16string_view text) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pathTexts_.erase(id);
  }
  Write([id, text = Wide(text)](void* w) { ::SetDlgItemTextW(AsWindow(w), id, text.c_str()); });
}

void Win32Dialog::SetPathText(ControlId id, std::u16string_view path) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pathTexts_[id] = std::u16string(path);
  }
  Write([id, text = Wide(path)](void* w) { ::PathSetDlgItemPathW(AsWindow(w), id, text.c_str()); });
}

std::u16string Win32Dialog::Text(ControlId id) const {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const auto found = pathTexts_.find(id); found != pathTexts_.end()) return found->second;
  }
  return ReadValue(std::u16string(), [id](HWND w) { return WindowText(::GetDlgItem(w, id)); });
}

void Win32Dialog::Show(ControlId id, bool visible) {
  Write([id, visible](void* w) {
    if (HWND control = ::GetDlgItem(AsWindow(w), id)) {
      ::ShowWindow(control, visible ? SW_SHOW : SW_HIDE);
    }
  });
}

void Win32Dialog::Enable(ControlId id, bool enabled) {
  Write([id, enabled](void* w) {
    if (HWND control = ::GetDlgItem(AsWindow(w), id)) ::EnableWindow(control, enabled);
  });
}

bool Win32Dialog::IsVisible(ControlId id) const {
  return ReadValue(false, [id](HWND w) {
    HWND control = ::GetDlgItem(w, id);
    return control != nullptr && (::GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0;
  });
}

bool Win32Dialog::IsEnabled(ControlId id) const {
  return ReadValue(false, [id](HWND w) {
    HWND control = ::GetDlgItem(w, id);
    return control != nullptr && ::IsWindowEnabled(control) != FALSE;
  });
}

void Win32Dialog::ComboReset(ControlId id) {
  Write([id](void* w) { (void)SendToControl(AsWindow(w), id, CB_RESETCONTENT); });
}

int Win32Dialog::ComboAdd(ControlId id, std::u16string_view item) {
  auto add = [id, text = Wide(item)](HWND w) {
    const LRESULT index =
        SendToControl(w, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    return index >= 0 ? static_cast<int>(index) : -1;
  };
  if (OnUiThread()) return ReadValue(-1, add);
  if (window_.load() == nullptr) return -1;
  Write([add](void* w) { (void)add(AsWindow(w)); });
  return 0;
}

int Win32Dialog::ComboCount(ControlId id) const {
  return ReadValue(0, [id](HWND w) {
    const LRESULT count = SendToControl(w, id, CB_GETCOUNT);
    return count > 0 ? static_cast<int>(count) : 0;
  });
}

std::u16string Win32Dialog::ComboItem(ControlId id, int index) const {
  return ReadValue(std::u16string(), [id, index](HWND w) {
    const LRESULT length = SendToControl(w, id, CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
    if (length < 0) return std::u16string();
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT got = SendToControl(w, id, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                      reinterpret_cast<LPARAM>(text.data()));
    return got < 0 ? std::u16string() : FromWide(text.data(), static_cast<std::size_t>(got));
  });
}

bool Win32Dialog::ComboSelect(ControlId id, int index) {
  auto select = [id, index](HWND w) {
    if (::GetDlgItem(w, id) == nullptr) return false;
    const LRESULT answer = SendToControl(w, id, CB_SETCURSEL, static_cast<WPARAM>(index));
    return index == -1 || answer != CB_ERR;  // clearing the selection answers CB_ERR
  };
  if (OnUiThread()) return ReadValue(false, select);
  if (window_.load() == nullptr) return false;
  Write([select](void* w) { (void)select(AsWindow(w)); });
  return true;
}

int Win32Dialog::ComboSelection(ControlId id) const {
  return ReadValue(-1, [id](HWND w) {
    const LRESULT selection = SendToControl(w, id, CB_GETCURSEL);
    return selection >= 0 ? static_cast<int>(selection) : -1;
  });
}

void Win32Dialog::ScrollSetRange(ControlId id, int minimum, int maximum, bool redraw) {
  Write([=](void* w) {
    if (HWND bar = ::GetDlgItem(AsWindow(w), id))
      ::SetScrollRange(bar, SB_CTL, minimum, maximum, redraw);
  });
}

bool Win32Dialog::ScrollRange(ControlId id, int* minimum, int* maximum) const {
  struct Range {
    bool ok;
    int minimum, maximum;
  };
  const Range range = ReadValue(Range{false, 0, 0}, [id](HWND w) {
    Range r{false, 0, 0};
    HWND bar = ::GetDlgItem(w, id);
    r.ok = bar != nullptr && ::GetScrollRange(bar, SB_CTL, &r.minimum, &r.maximum) != FALSE;
    return r;
  });
  if (range.ok) {
    *minimum = range.minimum;
    *maximum = range.maximum;
  }
  return range.ok;
}

void Win32Dialog::ScrollSetPosition(ControlId id, int position, bool redraw) {
  Write([=](void* w) {
    if (HWND bar = ::GetDlgItem(AsWindow(w), id)) ::SetScrollPos(bar, SB_CTL, position, redraw);
  });
}

int Win32Dialog::ScrollPosition(ControlId id) const {
  return ReadValue(0, [id](HWND w) {
    HWND bar = ::GetDlgItem(w, id);
    return bar != nullptr ? ::GetScrollPos(bar, SB_CTL) : 0;
  });
}

bool Win32Dialog::ScrollTrackPosition(ControlId id, int* position) const {
  SCROLLINFO info{};
  info.cbSize = sizeof info;
  info.fMask = SIF_TRACKPOS;
  const bool ok = ReadValue(false, [id, &info](HWND w) {
    HWND bar = ::GetDlgItem(w, id);
    return bar != nullptr && ::GetScrollInfo(bar, SB_CTL, &info) != FALSE;
  });
  if (ok) *position = info.nTrackPos;
  return ok;
}

void Win32Dialog::SetCheck(ControlId id, bool checked) {
  Write([id, checked](void* w) {
    ::CheckDlgButton(AsWindow(w), id, checked ? BST_CHECKED : BST_UNCHECKED);
  });
}

bool Win32Dialog::IsChecked(ControlId id) const {
  return ReadValue(false, [id](HWND w) { return ::IsDlgButtonChecked(w, id) == BST_CHECKED; });
}

void Win32Dialog::Repaint() {
  Write([](void* w) { ::InvalidateRect(AsWindow(w), nullptr, TRUE); });
}

void Win32Dialog::AcceptDrops(bool accept) {
  acceptsDrops_ = accept;
  Write([accept](void* w) { ::DragAcceptFiles(AsWindow(w), accept); });
}

void Win32Dialog::EndDialog(std::intptr_t result) {
  Write([this, result](void* w) {
    ended_ = true;
    ::EndDialog(AsWindow(w), result);
  });
}

bool Win32Dialog::SetTimer(int id, unsigned milliseconds) {
  return ReadValue(false, [id, milliseconds](HWND w) {
    return ::SetTimer(w, static_cast<UINT_PTR>(id), milliseconds, nullptr) != 0;
  });
}

void Win32Dialog::KillTimer(int id) {
  Write([id](void* w) { ::KillTimer(AsWindow(w), static_cast<UINT_PTR>(id)); });
}

bool Win32Dialog::ClientContains(int x, int y) const {
  return ReadValue(false, [x, y](HWND w) {
    RECT client{};
    return ::GetClientRect(w, &client) != FALSE && ::PtInRect(&client, POINT{x, y}) != FALSE;
  });
}

int Win32Dialog::TrackPopupMenu(std::u16string_view menuName, std::span<const ControlId> checked,
                                int x, int y) {
  const MenuTemplate* menu = resources_.Menu(menuName);
  if (menu == nullptr || !OnUiThread()) return 0;
  return ReadValue(0, [&](HWND w) {
    // The menu bar holds one submenu, the popup; destroying the bar destroys both.
    HMENU bar = ::CreateMenu();
    HMENU popup = ::CreatePopupMenu();
    if (bar == nullptr || popup == nullptr) {
      if (bar != nullptr) ::DestroyMenu(bar);
      if (popup != nullptr) ::DestroyMenu(popup);
      return 0;
    }
    (void)::AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), L"");
    for (const MenuItemTemplate& item : menu->items) {
      bool marked = false;
      for (ControlId id : checked) marked = marked || id == item.id;
      (void)::AppendMenuW(popup, MF_STRING | (marked ? MF_CHECKED : MF_UNCHECKED),
                          static_cast<UINT_PTR>(item.id), Wide(item.text).c_str());
    }
    int choice = 0;
    POINT point{x, y};
    if (::ClientToScreen(w, &point)) {
      choice = static_cast<int>(::TrackPopupMenu(::GetSubMenu(bar, 0), TPM_RETURNCMD | TPM_NONOTIFY,
                                                 point.x, point.y, 0, w, nullptr));
    }
    ::DestroyMenu(bar);
    return choice;
  });
}

std::intptr_t Win32Dialog::RunModal(std::u16string_view templateName, DialogBehaviour& behaviour) {
  if (!OnUiThread()) return -1;
  Win32Dialog child(resources_);
  return child.Run(templateName, behaviour, window_.load());
}

}  // namespace lumaro::platform::ui
