#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dialog_template.h"
#include "platform/ui.h"

namespace lumaro::platform::ui {

// A dialog as a real Windows dialog box, built in memory from a DialogTemplate of the program's
// DialogResources and run modally.
//
// Thread contract: Run is called on the thread that becomes the dialog's user-interface thread
// until it returns. The Dialog methods may be called from any thread. On the user-interface
// thread they act on the window at once; from another thread a write is queued and posted to the
// window (it is applied in order, before the window's next message and before any later read),
// so a playback thread never waits for a user-interface thread that may itself be waiting for
// it. A write from another thread that must answer something (ComboAdd, ComboSelect) answers as
// if it succeeded (ComboAdd: 0) while the window exists, the failure answer once it is gone. A
// read from another thread waits for the user-interface thread. Once Run has returned, writes do
// nothing and reads answer their failure values.
class Win32Dialog final : public Dialog {
 public:
  // `resources` must outlive the dialog.
  explicit Win32Dialog(const DialogResources& resources);
  ~Win32Dialog() override;
  Win32Dialog(const Win32Dialog&) = delete;
  Win32Dialog& operator=(const Win32Dialog&) = delete;

  // The main window's handling of the mouse besides the behaviour's messages: a press anywhere
  // in the client area drags the window, a double click minimises it, and moving, focusing,
  // activating or showing it repaints it whole. Set before Run.
  void SetMainWindowChrome(bool on) { mainChrome_ = on; }
  // Called on the user-interface thread once the window exists and its behaviour has had
  // InitDialog (for the program's entry and tests). Set before Run.
  void SetOnShown(std::function<void(Win32Dialog&)> onShown) { onShown_ = std::move(onShown); }

  // Runs the dialog made from template `templateName` modally, owned by the window `owner`
  // (an HWND; nullptr: none), `behaviour` receiving its messages. Answers the EndDialog result,
  // or -1 when there is no such template or the window could not be made.
  std::intptr_t Run(std::u16string_view templateName, DialogBehaviour& behaviour,
                    void* owner = nullptr);

  // The dialog's window (an HWND) while it runs, else nullptr. Any thread.
  void* NativeWindow() const { return window_.load(); }

  void SetCaption(std::u16string_view caption) override;
  std::u16string Caption() const override;
  void SetText(ControlId id, std::u16string_view text) override;
  void SetPathText(ControlId id, std::u16string_view path) override;
  std::u16string Text(ControlId id) const override;
  void Show(ControlId id, bool visible) override;
  void Enable(ControlId id, bool enabled) override;
  bool IsVisible(ControlId id) const override;
  bool IsEnabled(ControlId id) const override;
  void ComboReset(ControlId id) override;
  int ComboAdd(ControlId id, std::u16string_view item) override;
  int ComboCount(ControlId id) const override;
  std::u16string ComboItem(ControlId id, int index) const override;
  bool ComboSelect(ControlId id, int index) override;
  int ComboSelection(ControlId id) const override;
  void ScrollSetRange(ControlId id, int minimum, int maximum, bool redraw) override;
  bool ScrollRange(ControlId id, int* minimum, int* maximum) const override;
  void ScrollSetPosition(ControlId id, int position, bool redraw) override;
  int ScrollPosition(ControlId id) const override;
  bool ScrollTrackPosition(ControlId id, int* position) const override;
  void SetCheck(ControlId id, bool checked) override;
  bool IsChecked(ControlId id) const override;
  void Repaint() override;
  void AcceptDrops(bool accept) override;
  void EndDialog(std::intptr_t result) override;
  bool SetTimer(int id, unsigned milliseconds) override;
  void KillTimer(int id) override;
  bool ClientContains(int x, int y) const override;
  int TrackPopupMenu(std::u16string_view menuName, std::span<const ControlId> checked, int x,
                     int y) override;
  std::intptr_t RunModal(std::u16string_view templateName, DialogBehaviour& behaviour) override;

 private:
  struct Access;  // the dialog procedure's way in

  bool OnUiThread() const;
  // Runs `write` on the window: now on the user-interface thread, else queued and posted.
  // `write` takes the window (an HWND as void*).
  void Write(std::function<void(void*)> write);
  // Runs `read` on the user-interface thread with the window and answers its value; `fallback`
  // when there is no window.
  template <class T, class Read>
  T ReadValue(T fallback, Read&& read) const;
  // Applies the queued writes (user-interface thread).
  void ApplyQueued() const;
  std::intptr_t Deliver(const Message& message);
  // The dialog procedure's work for this dialog (a window message of `window`, an HWND).
  std::intptr_t Handle(void* window, unsigned message, std::uintptr_t w, std::intptr_t l);

  const DialogResources& resources_;
  std::atomic<void*> window_{nullptr};
  std::atomic<unsigned long> uiThread_{0};
  DialogBehaviour* behaviour_ = nullptr;
  bool mainChrome_ = false;
  bool ended_ = false;
  std::atomic<bool> acceptsDrops_{false};
  std::function<void(Win32Dialog&)> onShown_;

  mutable std::mutex mutex_;  // guards the members below
  mutable std::vector<std::function<void(void*)>> queued_;
  mutable bool posted_ = false;
  // Paths shown shortened, kept whole for Text.
  std::map<ControlId, std::u16string> pathTexts_;
};

}  // namespace lumaro::platform::ui
