#include "platform/headless/headless_dialog.h"

#include <algorithm>
#include <atomic>

namespace lumaro::platform::ui {
namespace {
std::atomic<HeadlessDialog::TextTap> textTap{nullptr};
}  // namespace

template <class Change>
void HeadlessDialog::Update(ControlId id, Change&& change) {
  Observer observer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    change(controls_[id]);
    observer = observer_;
  }
  if (observer) observer(id);
}

template <class Read>
auto HeadlessDialog::Query(ControlId id, Read&& read) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = controls_.find(id);
  static const ControlState kUntouched{};
  return read(found == controls_.end() ? kUntouched : found->second);
}

void HeadlessDialog::SetObserver(Observer observer) {
  std::lock_guard<std::mutex> lock(mutex_);
  observer_ = std::move(observer);
}

ControlState HeadlessDialog::Control(ControlId id) const {
  return Query(id, [](const ControlState& c) { return c; });
}

std::vector<std::u16string> HeadlessDialog::TextHistory(ControlId id) const {
  return Query(id, [](const ControlState& c) { return c.textHistory; });
}

int HeadlessDialog::RepaintCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return repaints_;
}

void HeadlessDialog::DragThumb(ControlId id, int position) {
  Update(id,
         [&](ControlState& c) { c.trackPosition = std::clamp(position, c.rangeMin, c.rangeMax); });
}

void HeadlessDialog::SetCaption(std::u16string_view caption) {
  Observer observer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    caption_ = caption;
    observer = observer_;
  }
  if (observer) observer(kCaptionId);
}

std::u16string HeadlessDialog::Caption() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return caption_;
}

void HeadlessDialog::SetTextTap(TextTap tap) noexcept { textTap.store(tap); }

void HeadlessDialog::SetText(ControlId id, std::u16string_view text) {
  if (const TextTap tap = textTap.load()) tap(id, text);
  Update(id, [&](ControlState& c) {
    c.text = text;
    c.textHistory.emplace_back(text);
  });
}

void HeadlessDialog::SetPathText(ControlId id, std::u16string_view path) { SetText(id, path); }

std::u16string HeadlessDialog::Text(ControlId id) const {
  return Query(id, [](const ControlState& c) { return c.text; });
}

void HeadlessDialog::Show(ControlId id, bool visible) {
  Update(id, [&](ControlState& c) { c.visible = visible; });
}

void HeadlessDialog::Enable(ControlId id, bool enabled) {
  Update(id, [&](ControlState& c) { c.enabled = enabled; });
}

bool HeadlessDialog::IsVisible(ControlId id) const {
  return Query(id, [](const ControlState& c) { return c.visible; });
}

bool HeadlessDialog::IsEnabled(ControlId id) const {
  return Query(id, [](const ControlState& c) { return c.enabled; });
}

void HeadlessDialog::ComboReset(ControlId id) {
  Update(id, [](ControlState& c) {
    c.items.clear();
    c.selection = -1;
  });
}

int HeadlessDialog::ComboAdd(ControlId id, std::u16string_view item) {
  int index = -1;
  Update(id, [&](ControlState& c) {
    c.items.emplace_back(item);
    index = static_cast<int>(c.items.size()) - 1;
  });
  return index;
}

int HeadlessDialog::ComboCount(ControlId id) const {
  return Query(id, [](const ControlState& c) { return static_cast<int>(c.items.size()); });
}

std::u16string HeadlessDialog::ComboItem(ControlId id, int index) const {
  return Query(id, [index](const ControlState& c) {
    return index >= 0 && index < static_cast<int>(c.items.size()) ? c.items[index]
                                                                  : std::u16string{};
  });
}

bool HeadlessDialog::ComboSelect(ControlId id, int index) {
  bool ok = false;
  Update(id, [&](ControlState& c) {
    ok = index >= -1 && index < static_cast<int>(c.items.size());
    c.selection = ok ? index : -1;
  });
  return ok && index >= 0;
}

int HeadlessDialog::ComboSelection(ControlId id) const {
  return Query(id, [](const ControlState& c) { return c.selection; });
}

void HeadlessDialog::ScrollSetRange(ControlId id, int minimum, int maximum, bool /*redraw*/) {
  Update(id, [&](ControlState& c) {
    c.rangeMin = minimum;
    c.rangeMax = maximum;
    c.position = std::clamp(c.position, minimum, std::max(minimum, maximum));
  });
}

bool HeadlessDialog::ScrollRange(ControlId id, int* minimum, int* maximum) const {
  return Query(id, [&](const ControlState& c) {
    *minimum = c.rangeMin;
    *maximum = c.rangeMax;
    return true;
  });
}

void HeadlessDialog::ScrollSetPosition(ControlId id, int position, bool /*redraw*/) {
  Update(id, [&](ControlState& c) {
    c.position = std::clamp(position, c.rangeMin, std::max(c.rangeMin, c.rangeMax));
  });
}

int HeadlessDialog::ScrollPosition(ControlId id) const {
  return Query(id, [](const ControlState& c) { return c.position; });
}

bool HeadlessDialog::ScrollTrackPosition(ControlId id, int* position) const {
  return Query(id, [&](const ControlState& c) {
    *position = c.trackPosition;
    return true;
  });
}

void HeadlessDialog::SetCheck(ControlId id, bool checked) {
  Update(id, [&](ControlState& c) { c.checked = checked; });
}

bool HeadlessDialog::IsChecked(ControlId id) const {
  return Query(id, [](const ControlState& c) { return c.checked; });
}

void HeadlessDialog::Repaint() {
  Observer observer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++repaints_;
    observer = observer_;
  }
  if (observer) observer(kCaptionId);
}

void HeadlessDialog::AcceptDrops(bool accept) {
  std::lock_guard<std::mutex> lock(mutex_);
  acceptsDrops_ = accept;
}

void HeadlessDialog::EndDialog(std::intptr_t result) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (ended_) return;
  ended_ = true;
  endResult_ = result;
}

bool HeadlessDialog::SetTimer(int id, unsigned milliseconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  timers_[id] = milliseconds;
  return true;
}

void HeadlessDialog::KillTimer(int id) {
  std::lock_guard<std::mutex> lock(mutex_);
  timers_.erase(id);
}

unsigned HeadlessDialog::TimerPeriod(int id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = timers_.find(id);
  return found == timers_.end() ? 0 : found->second;
}

void HeadlessDialog::SetClientSize(int width, int height) {
  std::lock_guard<std::mutex> lock(mutex_);
  clientWidth_ = width;
  clientHeight_ = height;
}

bool HeadlessDialog::ClientContains(int x, int y) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (clientWidth_ < 0 || clientHeight_ < 0) return true;
  return x >= 0 && y >= 0 && x < clientWidth_ && y < clientHeight_;
}

void HeadlessDialog::SetMenuChoice(int id) {
  std::lock_guard<std::mutex> lock(mutex_);
  menuChoice_ = id;
}

int HeadlessDialog::TrackPopupMenu(std::u16string_view menuName, std::span<const ControlId> checked,
                                   int x, int y) {
  (void)x;
  (void)y;
  std::lock_guard<std::mutex> lock(mutex_);
  menusShown_.push_back({std::u16string(menuName), {checked.begin(), checked.end()}});
  return menuChoice_;
}

std::vector<HeadlessDialog::MenuShown> HeadlessDialog::MenusShown() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return menusShown_;
}

void HeadlessDialog::SetModalDriver(ModalDriver driver) {
  std::lock_guard<std::mutex> lock(mutex_);
  modalDriver_ = std::move(driver);
}

std::vector<std::u16string> HeadlessDialog::ModalsRun() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return modalsRun_;
}

std::intptr_t HeadlessDialog::RunModal(std::u16string_view templateName,
                                       DialogBehaviour& behaviour) {
  ModalDriver driver;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    modalsRun_.emplace_back(templateName);
    driver = modalDriver_;
  }
  HeadlessDialog child;
  child.SetModalDriver(driver);  // grandchildren are played by the same driver
  child.Attach(&behaviour);
  child.Send(InitDialog{});
  if (driver) driver(templateName, child);
  child.Send(Close{});
  return child.EndResult();
}

void HeadlessDialog::Attach(DialogBehaviour* behaviour) {
  std::lock_guard<std::mutex> lock(mutex_);
  behaviour_ = behaviour;
}

std::intptr_t HeadlessDialog::Send(const Message& message) {
  // The behaviour runs without the control lock held: it drives the controls itself, and the
  // threads it starts may be writing to them at the same time.
  std::lock_guard<std::mutex> oneAtATime(delivery_);
  DialogBehaviour* behaviour = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ended_ || (!acceptsDrops_ && std::holds_alternative<DropFiles>(message))) return 0;
    behaviour = behaviour_;
  }
  return behaviour != nullptr ? behaviour->OnMessage(*this, message) : 0;
}

bool HeadlessDialog::AcceptsDrops() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return acceptsDrops_;
}

bool HeadlessDialog::Ended() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ended_;
}

std::intptr_t HeadlessDialog::EndResult() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return endResult_;
}

}  // namespace lumaro::platform::ui
