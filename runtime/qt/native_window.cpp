#include "runtime/qt/native_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFocusEvent>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolTip>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>
#include <QWidget>

#include <algorithm>
#include <vector>

#include "runtime/qt/control_icons.h"
#include "runtime/qt/key_codes.h"
#include "runtime/windows/bound_variable.h"
#include "runtime/windows/events.h"
#include "runtime/windows/properties.h"

namespace rt {

// Window texts are Latin-1, like record text: one byte a character.
namespace {

QString ToQt(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}
std::string FromQt(const QString& text) { return text.toLatin1().toStdString(); }

struct Applying {
  explicit Applying(int& count) : count_(count) { ++count_; }
  ~Applying() { --count_; }
  int& count_;
};

// "&" marks the accelerator letter; "&&" is an ampersand.
bool HasAccelerator(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i)
    if (text[i] == '&') {
      if (i + 1 < text.size() && text[i + 1] != '&') return true;
      ++i;
    }
  return false;
}

QString WithoutAccelerator(const std::string& text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) ++i;
    plain += text[i];
  }
  return ToQt(plain);
}

Qt::Alignment Horizontal(char align) {
  switch (align) {
    case 'C': return Qt::AlignHCenter;
    case 'R': return Qt::AlignRight;
    default: return Qt::AlignLeft;
  }
}

QColor Colour(int bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); }

QWidget* MakeWidget(ControlKind kind, QWidget* parent) {
  switch (kind) {
    case ControlKind::Text:
    case ControlKind::Prompt:
    case ControlKind::Image: return new QLabel(parent);
    case ControlKind::Panel: {
      auto* frame = new QFrame(parent);
      frame->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
      return frame;
    }
    case ControlKind::Line: {
      auto* frame = new QFrame(parent);
      frame->setFrameShadow(QFrame::Sunken);
      return frame;
    }
    case ControlKind::Entry: return new QLineEdit(parent);
    case ControlKind::Check: return new QCheckBox(parent);
    case ControlKind::Button: {
      auto* button = new QPushButton(parent);
      button->setAutoDefault(false);
      return button;
    }
    case ControlKind::Group: return new QGroupBox(parent);
    case ControlKind::Combo: {
      auto* combo = new QComboBox(parent);
      combo->setEditable(true);
      combo->setInsertPolicy(QComboBox::NoInsert);
      return combo;
    }
    case ControlKind::Progress: {
      auto* bar = new QProgressBar(parent);
      bar->setTextVisible(false);
      return bar;
    }
    case ControlKind::List: {
      auto* tree = new QTreeWidget(parent);
      tree->setRootIsDecorated(false);
      tree->setUniformRowHeights(true);
      tree->setAllColumnsShowFocus(true);
      tree->setSelectionMode(QAbstractItemView::SingleSelection);
      return tree;
    }
  }
  return new QLabel(parent);
}

}  // namespace

// The top-level widget: passes the user's doing on to its NativeWindow, and
// filters the keys, focus changes and clicks of every control.
class WindowWidget final : public QWidget {
 public:
  WindowWidget(NativeWindow& native, QWidget* over) : QWidget(over, Qt::Window), native_(native) {}

 protected:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::KeyPress && native_.UserKey(*static_cast<QKeyEvent*>(e))) return true;
    return QWidget::event(e);
  }
  bool eventFilter(QObject* target, QEvent* e) override {
    switch (e->type()) {
      case QEvent::KeyPress: return native_.UserKey(*static_cast<QKeyEvent*>(e));
      case QEvent::FocusIn:
        native_.UserFocused(target, static_cast<QFocusEvent*>(e)->reason());
        break;
      case QEvent::MouseButtonRelease: native_.UserReleasedPointer(target); break;
      default: break;
    }
    return false;
  }
  void closeEvent(QCloseEvent* e) override {
    e->ignore();  // the program decides whether the window closes
    native_.UserClosed();
  }
  void resizeEvent(QResizeEvent* e) override {
    QWidget::resizeEvent(e);
    native_.UserResized();
  }
  void moveEvent(QMoveEvent* e) override {
    QWidget::moveEvent(e);
    native_.UserMoved();
  }
  void changeEvent(QEvent* e) override {
    QWidget::changeEvent(e);
    if (e->type() == QEvent::WindowStateChange) native_.UserChangedState();
  }

 private:
  NativeWindow& native_;
};

NativeWindow::NativeWindow(const Window& model, QWidget* over, InputSink& sink)
    : model_(model),
      sink_(sink),
      over_(over),
      font_(DialogFont(model.Font().Face, model.Font().Size, model.Font().Style)),
      units_(font_) {
  Build();
}

NativeWindow::~NativeWindow() {
  if (!widget_) return;
  // A window still open over this one stays: it moves to the window below.
  for (QObject* child : widget_->children()) {
    auto* window = qobject_cast<QWidget*>(child);
    if (!window || !window->isWindow()) continue;
    const bool visible = window->isVisible();
    window->setParent(over_, window->windowFlags());
    if (visible) window->show();
  }
  delete widget_.data();
}

QWidget* NativeWindow::Widget() const { return widget_.data(); }

QWidget* NativeWindow::ControlWidget(int number) const {
  auto it = controls_.find(number);
  return it == controls_.end() ? nullptr : it->second.Widget;
}

NativeWindow::Control* NativeWindow::Find(int number) {
  auto it = controls_.find(number);
  return it == controls_.end() ? nullptr : &it->second;
}

// The control a widget belongs to (a combo box's line edit, a list's viewport).
NativeWindow::Control* NativeWindow::FindWidget(const QObject* widget) {
  for (; widget && widget != widget_; widget = widget->parent())
    for (auto& [number, control] : controls_)
      if (control.Widget == widget) return &control;
  return nullptr;
}

void NativeWindow::Build() {
  Applying applying(applying_);
  auto* window = new WindowWidget(*this, over_);
  widget_ = window;
  window->setObjectName(ToQt(model_.Name()));
  window->setFont(font_);
  window->setAttribute(Qt::WA_DeleteOnClose, false);
  Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint;
  if (model_.Resizable()) flags |= Qt::WindowMaximizeButtonHint;
  window->setWindowFlags(flags);
  if (over_) window->setWindowModality(Qt::ApplicationModal);

  QWidget* previous = nullptr;
  for (const ControlState& state : model_.Controls()) {
    Control control;
    control.Number = state.Number;
    control.Kind = state.Kind;
    control.Widget = MakeWidget(state.Kind, window);
    control.Widget->setObjectName(ToQt(state.Label));
    control.Widget->setFocusPolicy(TakesFocus(state.Kind) ? Qt::StrongFocus : Qt::NoFocus);
    control.Widget->installEventFilter(window);
    if (auto* combo = qobject_cast<QComboBox*>(control.Widget))
      combo->lineEdit()->installEventFilter(window);
    if (auto* tree = qobject_cast<QTreeWidget*>(control.Widget))
      tree->viewport()->installEventFilter(window);
    if (TakesFocus(state.Kind)) {
      if (previous) QWidget::setTabOrder(previous, control.Widget);
      previous = control.Widget;
    }
    controls_[state.Number] = control;
  }
  // A label's accelerator moves the focus to the next control that takes it.
  for (auto it = controls_.begin(); it != controls_.end(); ++it) {
    auto* label = qobject_cast<QLabel*>(it->second.Widget);
    if (!label || it->second.Kind == ControlKind::Image ||
        !HasAccelerator(model_.Control(it->first)->Text))
      continue;
    for (auto next = std::next(it); next != controls_.end(); ++next)
      if (TakesFocus(next->second.Kind)) {
        label->setBuddy(next->second.Widget);
        break;
      }
  }
  // Backgrounds and frames lie under the controls they hold, whatever their numbers.
  for (auto it = controls_.rbegin(); it != controls_.rend(); ++it)
    if (it->second.Kind == ControlKind::Panel || it->second.Kind == ControlKind::Group)
      it->second.Widget->lower();

  for (auto& [number, control] : controls_) Connect(control);
  ApplyWindow(0);
  for (const ControlState& state : model_.Controls())
    ApplyControl(state, controls_[state.Number], 0);
}

void NativeWindow::Give(Input input) {
  input.Target = &model_;
  sink_.Give(std::move(input));
}

void NativeWindow::Connect(Control& control) {
  const int number = control.Number;
  auto accept = [this, number] {
    if (applying_) return;
    Input input;
    input.What = Input::Kind::Accept;
    input.Control = number;
    input.Value = 1;
    input.Pointer = pointerControl_ == number;
    pointerControl_ = 0;
    Give(std::move(input));
  };
  auto edit = [this, number](const QString& text) {
    if (applying_) return;
    Input input;
    input.What = Input::Kind::Edit;
    input.Control = number;
    input.Text = FromQt(text);
    Give(std::move(input));
  };
  QWidget* widget = control.Widget;
  switch (control.Kind) {
    case ControlKind::Button:
    case ControlKind::Check:
      QObject::connect(static_cast<QAbstractButton*>(widget), &QAbstractButton::clicked, widget,
                       accept);
      break;
    case ControlKind::Entry:
      QObject::connect(static_cast<QLineEdit*>(widget), &QLineEdit::textEdited, widget, edit);
      break;
    case ControlKind::Combo: {
      auto* combo = static_cast<QComboBox*>(widget);
      QObject::connect(combo->lineEdit(), &QLineEdit::textEdited, widget, edit);
      QObject::connect(combo, &QComboBox::textActivated, widget, edit);
      break;
    }
    case ControlKind::List: {
      auto* tree = static_cast<QTreeWidget*>(widget);
      QObject::connect(tree, &QTreeWidget::currentItemChanged, widget,
                       [this, number, tree](QTreeWidgetItem* item) {
                         if (applying_ || !item) return;
                         Input input;
                         input.What = Input::Kind::SelectRow;
                         input.Control = number;
                         input.Value = tree->indexOfTopLevelItem(item) + 1;
                         Give(std::move(input));
                       });
      QObject::connect(tree, &QTreeWidget::itemDoubleClicked, widget, [this, number] {
        if (applying_) return;
        Input input;
        input.What = Input::Kind::Accept;
        input.Control = number;
        input.Value = 2;
        input.Pointer = true;
        Give(std::move(input));
      });
      break;
    }
    default: break;
  }
}

void NativeWindow::ShowIfDue() {
  if (shown_ || !widget_ || model_.Hidden()) return;
  bool fitted = false;
  {
    Applying applying(applying_);
    const Rect area = model_.Area();
    if (area.X == 0 &&
        area.Y == 0) {  // no place given: centred over the window below, else on the screen
      QRect within;
      if (over_)
        within = over_->frameGeometry();
      else if (const QScreen* screen = widget_->screen())
        within = screen->availableGeometry();
      if (within.isValid())
        widget_->move(within.center() - QPoint(widget_->width() / 2, widget_->height() / 2));
    }
    if (model_.Maximized()) {
      widget_->showMaximized();
    } else {
      fitted = BringOnScreen();
      widget_->show();
    }
    shown_ = true;
    widget_->raise();
    widget_->activateWindow();
  }
  SyncFocus();
  // The runtime learns the state, size and place the window really came up with.
  if (knownMinimized_ && !widget_->isMinimized()) {
    knownMinimized_ = false;
    Input input;
    input.What = Input::Kind::Restore;
    Give(std::move(input));
  }
  if (fitted) UserResized();
  UserMoved();
}

// A saved placement may come from another desktop: a second monitor that is
// gone, a larger screen, or a window minimised there that nothing here could
// bring back (a bare X server has no task bar) while the program waits for
// it. The window is therefore shown restored, no larger than the screen that
// has the most of it (the primary one when none has any), and moved onto it
// as little as it takes. A placement wholly on a screen is kept as it is.
// Returns true when the window was made smaller.
bool NativeWindow::BringOnScreen() {
  widget_->winId();  // the window system's window, so that the frame around it is known
  const QRect frame = widget_->frameGeometry();
  QScreen* best = QGuiApplication::primaryScreen();
  qint64 most = 0;
  for (QScreen* screen : QGuiApplication::screens()) {
    const QRect common = screen->availableGeometry() & frame;
    const qint64 shared = qint64(common.width()) * common.height();
    if (shared > most) {
      most = shared;
      best = screen;
    }
  }
  if (!best) return false;
  const QRect room = best->availableGeometry();
  if (room.contains(frame)) return false;
  // The frame a window system adds around the window has to fit as well.
  const QSize border = frame.size() - widget_->size();
  const QSize fitted =
      widget_->size().boundedTo(room.size() - border).expandedTo(widget_->minimumSize());
  const bool resize = model_.Resizable() && fitted != widget_->size();
  if (resize) widget_->resize(fitted);
  const QSize whole = widget_->size() + border;
  const int x = std::max(room.left(), std::min(frame.x(), room.right() + 1 - whole.width()));
  const int y = std::max(room.top(), std::min(frame.y(), room.bottom() + 1 - whole.height()));
  if (x != frame.x() || y != frame.y()) widget_->move(x, y);
  return resize;
}

void NativeWindow::Update(int control, int property) {
  if (!widget_) return;
  if (control == 0) {
    ApplyWindow(property);
    if (property == 0)
      for (const ControlState& state : model_.Controls())
        ApplyControl(state, controls_[state.Number], 0);
    return;
  }
  const ControlState* state = model_.Control(control);
  Control* native = Find(control);
  if (state && native) ApplyControl(*state, *native, property);
}

void NativeWindow::ApplyWindow(int property) {
  Applying applying(applying_);
  const bool all = property == 0;
  if (all || property == PropText) widget_->setWindowTitle(ToQt(model_.Caption()));
  if (property == PropFont) {
    font_ = DialogFont(model_.Font().Face, model_.Font().Size, model_.Font().Style);
    units_ = DialogUnits(font_);
    widget_->setFont(font_);
    for (auto& [number, control] : controls_) control.Font.reset();
    for (const ControlState& state : model_.Controls())
      ApplyControl(state, controls_[state.Number], 0);
  }
  if (all || property == PropMinWidth || property == PropMinHeight || property == PropMaxWidth ||
      property == PropMaxHeight || property == PropResizable || property == PropFont)
    ApplyLimits();
  if (all || property == PropXPos || property == PropIconized || property == PropMinWidth ||
      property == PropMinHeight || property == PropMaxWidth || property == PropMaxHeight ||
      property == PropResizable || property == PropFont)
    ApplyArea();
  if ((all || property == PropHide) && shown_ && widget_->isHidden() != model_.Hidden()) {
    widget_->setVisible(!model_.Hidden());
    if (!model_.Hidden()) widget_->activateWindow();
  }
  if (all || property == PropFocus) SyncFocus();
}

void NativeWindow::ApplyLimits() {
  if (!model_.Resizable()) return;  // ApplyArea fixes the size
  widget_->setMinimumSize(units_.Size(model_.MinWidth(), model_.MinHeight()));
  widget_->setMaximumSize(model_.MaxWidth() > 0 ? units_.X(model_.MaxWidth()) : QWIDGETSIZE_MAX,
                          model_.MaxHeight() > 0 ? units_.Y(model_.MaxHeight()) : QWIDGETSIZE_MAX);
}

// Size, place and state from the model, unless the user's own change of
// them still waits to reach it. Sizes the widget already has (to the unit)
// are left alone, so a window the user drags does not jump by a pixel.
void NativeWindow::ApplyArea() {
  if (sink_.AreaPending(model_)) return;
  const Rect area = model_.Area();
  known_ = area;
  knownMaximized_ = model_.Maximized();
  knownMinimized_ = model_.Iconized();
  if (shown_) {
    if (model_.Maximized()) {
      if (!widget_->isMaximized()) widget_->showMaximized();
      return;
    }
    if (model_.Iconized()) {
      if (!widget_->isMinimized()) widget_->showMinimized();
      return;
    }
    if (widget_->isMaximized() || widget_->isMinimized()) widget_->showNormal();
  }
  const QSize size = units_.Size(area.Width, area.Height);
  if (!model_.Resizable()) {
    if (widget_->minimumSize() != size || widget_->maximumSize() != size)
      widget_->setFixedSize(size);
  } else if (units_.UnitsX(widget_->width()) != area.Width ||
             units_.UnitsY(widget_->height()) != area.Height) {
    widget_->resize(size);
  }
  const QPoint at = widget_->pos();
  if ((area.X != 0 || area.Y != 0) &&
      (units_.UnitsX(at.x()) != area.X || units_.UnitsY(at.y()) != area.Y))
    widget_->move(units_.X(area.X), units_.Y(area.Y));
}

void NativeWindow::ApplyFont(const ControlState& state, Control& control) {
  const QFont font = DialogFont(font_, state.Font, state.FontStyle);
  if (control.Font && *control.Font == font) return;
  control.Font = font;
  control.Widget->setFont(font);
}

void NativeWindow::ApplyControl(const ControlState& state, Control& control, int property) {
  Applying applying(applying_);
  QWidget* widget = control.Widget;
  const QRect place = units_.Pixels(state.Position);
  if (widget->geometry() != place) widget->setGeometry(place);
  if (widget->isHidden() != state.Hidden) widget->setHidden(state.Hidden);
  if (widget->isEnabled() == state.Disabled) widget->setEnabled(!state.Disabled);
  // An entry that could not read what was typed says how to type it, at
  // once in its tip (a dialog has no status line) and in the status tip.
  const std::string& tip = state.TypingHint.empty() ? state.Tip : state.TypingHint;
  widget->setToolTip(ToQt(tip));
  widget->setStatusTip(ToQt(state.TypingHint.empty() ? state.StatusText : state.TypingHint));
  if (property == PropStatusText && !state.TypingHint.empty())
    QToolTip::showText(widget->mapToGlobal(QPoint(0, widget->height())), ToQt(tip), widget);
  ApplyFont(state, control);
  if (control.FontColor != state.FontColor) {
    control.FontColor = state.FontColor;
    QPalette palette;  // nothing set: the window's colours
    if (state.FontColor >= 0)
      for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
        for (QPalette::ColorRole role :
             {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
          palette.setColor(group, role, Colour(state.FontColor));
    widget->setPalette(palette);
  }
  if (control.Icon != state.Icon) {
    control.Icon = state.Icon;
    const QIcon icon = ControlIcon(state.Icon, *widget->style());
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
      button->setIcon(icon);
    } else if (auto* image = qobject_cast<QLabel*>(widget);
               image && control.Kind == ControlKind::Image) {
      const int side = std::min(place.width(), place.height());
      image->setPixmap(icon.isNull() ? QPixmap() : icon.pixmap(side, side));
      image->setAlignment(Qt::AlignCenter);
    }
  }
  if (auto* button = qobject_cast<QPushButton*>(widget)) {
    const int side = std::clamp(std::min(place.width() - 4, place.height() - 6), 8, 16);
    button->setIconSize({side, side});
  }
  if (control.Kind == ControlKind::List) {
    ApplyList(state, control, property == PropItems || property == PropFormat || property == 0);
    return;
  }
  ApplyText(state, control);
}

void NativeWindow::ApplyText(const ControlState& state, Control& control) {
  QWidget* widget = control.Widget;
  const QString text = ToQt(state.Text);
  switch (control.Kind) {
    case ControlKind::Text:
    case ControlKind::Prompt: {
      auto* label = static_cast<QLabel*>(widget);
      const QString shown = label->buddy() ? text : WithoutAccelerator(state.Text);
      if (label->text() != shown) label->setText(shown);
      const bool lines = label->height() >= 2 * label->fontMetrics().height();
      label->setWordWrap(lines);
      label->setAlignment(Horizontal(state.Align) | (lines ? Qt::AlignTop : Qt::AlignVCenter));
      break;
    }
    case ControlKind::Entry: {
      auto* edit = static_cast<QLineEdit*>(widget);
      if (edit->text() != text && !sink_.TextPending(model_, control.Number)) edit->setText(text);
      edit->setPlaceholderText(ToQt(EntryFormatHint(state.Picture)));
      edit->setAlignment(Horizontal(state.Align) | Qt::AlignVCenter);
      break;
    }
    case ControlKind::Combo: {
      auto* combo = static_cast<QComboBox*>(widget);
      if (combo->currentText() != text && !sink_.TextPending(model_, control.Number))
        combo->setEditText(text);
      break;
    }
    case ControlKind::Button:
      if (auto* button = static_cast<QPushButton*>(widget); button->text() != text)
        button->setText(text);
      static_cast<QPushButton*>(widget)->setDefault(state.Default);
      break;
    case ControlKind::Check: {
      auto* check = static_cast<QCheckBox*>(widget);
      if (check->text() != text) check->setText(text);
      check->setChecked(state.Value != 0);
      break;
    }
    case ControlKind::Group:
      if (auto* group = static_cast<QGroupBox*>(widget); group->title() != text)
        group->setTitle(text);
      break;
    case ControlKind::Progress: {
      auto* bar = static_cast<QProgressBar*>(widget);
      bar->setRange(state.RangeLow, state.RangeHigh);
      bar->setValue(
          static_cast<int>(std::clamp<std::int64_t>(state.Value, state.RangeLow, state.RangeHigh)));
      break;
    }
    case ControlKind::Line: {
      auto* line = static_cast<QFrame*>(widget);
      line->setFrameShape(state.Position.Width >= state.Position.Height ? QFrame::HLine
                                                                        : QFrame::VLine);
      break;
    }
    default: break;
  }
}

// Rows are read again from the source only when it says they changed (row
// -3), or when the list's rows or columns were set.
void NativeWindow::ApplyList(const ControlState& state, Control& control, bool rows) {
  auto* tree = static_cast<QTreeWidget*>(control.Widget);
  if (rows && state.Source && tree->topLevelItemCount() > 0 && state.Source(-3, 0) == "0")
    rows = false;
  if (rows) {
    std::vector<ListColumn> columns = ListColumns(state.ListFormat);
    if (columns.empty()) columns.push_back({});
    tree->clear();
    tree->setColumnCount(static_cast<int>(columns.size()));
    QStringList headers;
    bool anyHeader = false;
    for (const ListColumn& column : columns) {
      headers << ToQt(column.Header);
      anyHeader = anyHeader || !column.Header.empty();
    }
    tree->setHeaderLabels(headers);
    tree->setHeaderHidden(!anyHeader);
    for (std::size_t i = 0; i < columns.size(); ++i)
      if (columns[i].Width > 0)
        tree->setColumnWidth(static_cast<int>(i), units_.X(columns[i].Width));
    const int count = model_.RowCount(control.Number);
    QList<QTreeWidgetItem*> items;
    for (int row = 1; row <= count; ++row) {
      auto* item = new QTreeWidgetItem;
      for (std::size_t i = 0; i < columns.size(); ++i) {
        const int column = static_cast<int>(i);
        item->setText(column, ToQt(model_.Cell(control.Number, row, column + 1)));
        item->setTextAlignment(column, Horizontal(columns[i].Align) | Qt::AlignVCenter);
      }
      items << item;
    }
    tree->addTopLevelItems(items);
  }
  QTreeWidgetItem* selected = state.Selected > 0 ? tree->topLevelItem(state.Selected - 1) : nullptr;
  if (tree->currentItem() != selected) {
    if (selected)
      tree->setCurrentItem(selected);
    else
      tree->clearSelection();
  }
}

void NativeWindow::SyncFocus() {
  if (!widget_) return;
  Control* control = Find(model_.Focus());
  if (!control) return;
  QWidget* want = control->Widget;
  if (!want->isVisibleTo(widget_) || !want->isEnabled()) return;
  QWidget* has = widget_->focusWidget();
  if (has == want || (has && want->isAncestorOf(has))) return;
  Applying applying(applying_);
  want->setFocus(Qt::OtherFocusReason);
  if (auto* edit = qobject_cast<QLineEdit*>(want)) edit->selectAll();
}

void NativeWindow::UserClosed() {
  Input input;
  input.What = Input::Kind::Close;
  Give(std::move(input));
}

void NativeWindow::UserResized() {
  if (applying_ || !shown_ || widget_->isMinimized()) return;
  if (widget_->isMaximized() && !knownMaximized_) return;  // the state change reports it
  const int width = units_.UnitsX(widget_->width()), height = units_.UnitsY(widget_->height());
  if (width == known_.Width && height == known_.Height) return;
  known_.Width = width;
  known_.Height = height;
  Input input;
  input.What = Input::Kind::Resize;
  input.Area = {0, 0, width, height};
  Give(std::move(input));
}

void NativeWindow::UserMoved() {
  if (applying_ || !shown_ || widget_->isMinimized() || widget_->isMaximized()) return;
  const int x = units_.UnitsX(widget_->x()), y = units_.UnitsY(widget_->y());
  if (x == known_.X && y == known_.Y) return;
  known_.X = x;
  known_.Y = y;
  Input input;
  input.What = Input::Kind::Move;
  input.Area = {x, y, 0, 0};
  Give(std::move(input));
}

void NativeWindow::UserChangedState() {
  if (applying_ || !shown_) return;
  const bool minimized = widget_->isMinimized(), maximized = widget_->isMaximized();
  Input input;
  if (minimized && !knownMinimized_) {
    input.What = Input::Kind::Minimize;
  } else if (!minimized && maximized && !knownMaximized_) {
    input.What = Input::Kind::Maximize;
  } else if (!minimized && !maximized && (knownMinimized_ || knownMaximized_)) {
    input.What = Input::Kind::Restore;
  } else {
    return;
  }
  knownMinimized_ = minimized;
  knownMaximized_ = maximized;
  Give(std::move(input));
  if (maximized) {
    known_.Width = known_.Height = -1;  // the maximised size follows
    UserResized();
  }
}

bool NativeWindow::UserKey(const QKeyEvent& event) {
  const Qt::KeyboardModifiers modifiers = event.modifiers() & ~Qt::KeypadModifier;
  Input input;
  input.What = Input::Kind::Key;
  // The runtime moves the focus itself, so Qt never sees a Tab move it; the
  // window is told that the keyboard is in use, and the style then draws the
  // focus on buttons as it does in any dialog driven by the keyboard.
  if (event.key() == Qt::Key_Tab || event.key() == Qt::Key_Backtab)
    widget_->setAttribute(Qt::WA_KeyboardFocusChange);
  if (event.key() == Qt::Key_Backtab ||
      (event.key() == Qt::Key_Tab && modifiers == Qt::ShiftModifier)) {
    input.Value = KeyShiftTab;
    Give(std::move(input));
    return true;
  }
  input.Value = RuntimeKeyCode(event);
  if (input.Value == 0 || (input.Value == KeyTab && modifiers != Qt::NoModifier)) return false;
  if (input.Value != KeyTab && input.Value != KeyEnter && input.Value != KeyEscape) {
    const ControlState* focused = model_.Control(model_.Focus());
    const bool alert =
        model_.AlertKeys().count(input.Value) || (focused && focused->AlertKeys.count(input.Value));
    if (!alert) {
      // Arrows would move Qt's focus off a button; here the focus moves by Tab alone.
      const bool arrow = input.Value >= KeyLeft && input.Value <= KeyDown;
      return arrow && focused &&
             (focused->Kind == ControlKind::Button || focused->Kind == ControlKind::Check);
    }
  }
  Give(std::move(input));
  return true;
}

void NativeWindow::UserFocused(QObject* target, int reason) {
  if (applying_ || (reason != Qt::MouseFocusReason && reason != Qt::ShortcutFocusReason)) return;
  const Control* control = FindWidget(target);
  if (!control || control->Number == model_.Focus()) return;
  // A click on a button presses it, and the press moves the focus unless the
  // button acts without reading the entry first.
  if (reason == Qt::MouseFocusReason && control->Kind == ControlKind::Button) return;
  Input input;
  input.What = Input::Kind::Focus;
  input.Control = control->Number;
  Give(std::move(input));
}

void NativeWindow::UserReleasedPointer(QObject* target) {
  if (const Control* control = FindWidget(target)) pointerControl_ = control->Number;
}

}  // namespace rt
