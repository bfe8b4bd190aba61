#include "shell/qt_widget_window.h"

#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleFactory>
#include <QTextBlock>
#include <QTextCursor>
#include <QPainter>
#include <QTextDocument>
#include <QTextEdit>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <deque>
#include <map>
#include <stdexcept>

#include "editing/entry_mask.h"
#include "editing/rich_document.h"
#include "platform/text.h"
#include "shell/gui_thread.h"
#ifdef KV_HAVE_WEBENGINE
#include "shell/qt_web_browser.h"
#endif

namespace kv {

namespace {

// Shows one widget over the drawing window at the stage's scale: the
// widget draws at stage size into the proxy's cache, which is scaled by
// nearest pixels, so the window shows exactly the headless frame scaled.
class StageView : public QGraphicsView {
 public:
  explicit StageView(QWidget* parent) : QGraphicsView(parent) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setRenderHints({});
    setBackgroundBrush(Qt::NoBrush);
    viewport()->setAutoFillBackground(false);
    setScene(&scene_);
  }
  QGraphicsScene& scene() { return scene_; }

 protected:
  bool event(QEvent* e) override {
    // Tab belongs to the stage, which moves the focus between window objects.
    if (e->type() == QEvent::KeyPress) {
      const int k = static_cast<QKeyEvent*>(e)->key();
      if (k == Qt::Key_Tab || k == Qt::Key_Backtab) {
        e->ignore();
        return false;
      }
    }
    return QGraphicsView::event(e);
  }
  // Keys the widget declines go on to the drawing window (hotkeys), not to scrolling.
  void keyPressEvent(QKeyEvent* e) override { QCoreApplication::sendEvent(&scene_, e); }
  void keyReleaseEvent(QKeyEvent* e) override { QCoreApplication::sendEvent(&scene_, e); }

 private:
  QGraphicsScene scene_;
};

// What the engine side knows of the widget, read without the GUI thread.
struct Known {
  Rect geometry;
  bool visible = false;
  bool forwardMouse = false;
  std::map<std::string, std::string> properties;
  QImage image;  // the widget at stage size, as last drawn
};

// The widget types the factory makes, one entry each: how to make one, how
// to set a property (Windows-1252 value) and how it reports changes by input.
using ChangeSink = std::function<void(const std::string& property, const std::string& value)>;
struct WidgetType {
  const char* name;
  QWidget* (*make)();
  void (*set)(QWidget& widget, const std::string& property, const std::string& value);
  void (*watch)(QWidget& widget, QObject& context, ChangeSink changed);
  // Draws only while shown (Chromium's view): off screen it is shown where
  // no screen shows it.
  bool drawsOnlyShown = false;
  // Hands the widget the judge of the local files it may read.
  void (*judge)(QWidget& widget, std::function<bool(const std::string& address)> mayRead) = nullptr;
};

QString FromCp1252(const std::string& text) { return QString::fromStdString(Cp1252ToUtf8(text)); }
std::string ToCp1252(const QString& text) { return Utf8ToCp1252(text.toStdString()); }

// The masked entry field: a line edit whose every edit goes through the
// mask's editor, so the text always has the mask's shape. Tab and Enter are
// declined: the stage moves the focus on with them.
class MaskedLineEdit : public QLineEdit {
 public:
  MaskedLineEdit() {
    setContextMenuPolicy(Qt::NoContextMenu);
    setDragEnabled(false);
    setAcceptDrops(false);
    Show();
  }
  ChangeSink changed;

  void Set(const std::string& property, const std::string& value) {
    const bool on = value == "1";
    if (property == "mask") {
      // Options are set again as a whole (a colour, a font size): the same
      // mask keeps what was typed.
      if (value == maskText_) return;
      maskText_ = value;
      EntryMask parsed;
      try {
        parsed = ParseEntryMask(value);
      } catch (const EntryMaskError&) {
        parsed = ParseEntryMask("X");  // the object refuses such a mask before it makes the widget
      }
      MaskedEdit fresh(std::move(parsed));
      fresh.insertMode = edit_.insertMode;
      fresh.autoTab = edit_.autoTab;
      fresh.readOnly = edit_.readOnly;
      fresh.allowInsertToggle = edit_.allowInsertToggle;
      fresh.promptChar = edit_.promptChar;
      fresh.passwordChar = edit_.passwordChar;
      edit_ = std::move(fresh);
    } else if (property == "prompt") {
      edit_.promptChar = value.empty() ? ' ' : value[0];
    } else if (property == "password") {
      edit_.passwordChar = value.empty() ? 0 : value[0];
    } else if (property == "insertMode") {
      edit_.insertMode = on;
    } else if (property == "readOnly") {
      edit_.readOnly = on;
    } else if (property == "autoTab") {
      edit_.autoTab = on;
    } else if (property == "selectOnFocus") {
      selectOnFocus_ = on;
    } else if (property == "allowInsertToggle") {
      edit_.allowInsertToggle = on;
    } else if (property == "border") {
      setFrame(on);
    } else if (property == "font") {
      QFont f = font();
      if (!value.empty()) f.fromString(QString::fromStdString(value));
      setFont(f);
    } else if (property == "colors") {
      unsigned text = 0, back = 0;
      QPalette p = style()->standardPalette();
      if (std::sscanf(value.c_str(), "%u %u", &text, &back) == 2) {
        auto rgb = [](unsigned c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); };
        p.setColor(QPalette::Text, rgb(text));
        p.setColor(QPalette::Base, rgb(back));
      }
      setPalette(p);
    } else if (property == "text") {
      edit_.SetText(value);
      Report();
    }
    Show();
  }

 protected:
  void keyPressEvent(QKeyEvent* e) override {
    using O = MaskedEdit::Outcome;
    const int key = e->key();
    const bool shift = e->modifiers() & Qt::ShiftModifier, control = e->modifiers() & Qt::ControlModifier;
    O outcome = O::kDone;
    if (key == Qt::Key_Tab || key == Qt::Key_Backtab || key == Qt::Key_Return || key == Qt::Key_Enter ||
        key == Qt::Key_Escape) {
      e->ignore();
      return;
    }
    if (key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta) {
      e->accept();
      return;
    }
    if (control) {
      if (key == Qt::Key_C || key == Qt::Key_Insert) {
        Copy();
      } else if (key == Qt::Key_V) {
        outcome = edit_.Paste(ToCp1252(QApplication::clipboard()->text()));
      } else if (key == Qt::Key_X) {
        outcome = Cut();
      } else {
        outcome = O::kRefused;  // any other key with Control
      }
    } else {
      switch (key) {
        case Qt::Key_Home: edit_.Home(shift); break;
        case Qt::Key_End: edit_.End(shift); break;
        case Qt::Key_Left: edit_.Left(shift); break;
        case Qt::Key_Right: outcome = edit_.Right(shift); break;
        case Qt::Key_Insert:
          if (shift) {
            outcome = edit_.Paste(ToCp1252(QApplication::clipboard()->text()));
          } else {
            outcome = edit_.ToggleInsert();
            if (outcome == O::kDone && changed) changed("insertMode", edit_.insertMode ? "1" : "0");
          }
          break;
        case Qt::Key_Delete: outcome = shift ? Cut() : edit_.Delete(); break;
        case Qt::Key_Backspace: outcome = edit_.Backspace(); break;
        default: {
          const std::string typed = ToCp1252(e->text());
          if (typed.empty() || static_cast<unsigned char>(typed[0]) < 0x20) {
            e->ignore();  // not ours: hotkeys and the stage have it
            return;
          }
          for (char c : typed) outcome = edit_.Type(c);
        }
      }
    }
    e->accept();
    if (outcome == O::kRefused) QApplication::beep();
    Show();
    Report();
    if (outcome == O::kLeave && changed) changed("autotab", "1");
  }
  void inputMethodEvent(QInputMethodEvent* e) override { e->ignore(); }
  void mousePressEvent(QMouseEvent* e) override {
    QLineEdit::mousePressEvent(e);
    edit_.ClickAt(size_t(cursorPosition()));
    Show();
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    QLineEdit::mouseMoveEvent(e);
    if (hasSelectedText()) {
      const int start = selectionStart(), end = start + int(selectedText().size());
      const int caret = cursorPosition();
      edit_.Select(size_t(caret == start ? end : start), size_t(caret));
    }
  }
  void mouseDoubleClickEvent(QMouseEvent*) override {
    edit_.SelectAll();
    Show();
  }
  void focusInEvent(QFocusEvent* e) override {
    QLineEdit::focusInEvent(e);
    edit_.FocusGained(selectOnFocus_);
    Show();
  }

 private:
  void Copy() {
    if (edit_.HasSelection()) QApplication::clipboard()->setText(FromCp1252(edit_.Copy()));
  }
  MaskedEdit::Outcome Cut() {
    std::string copied;
    const MaskedEdit::Outcome o = edit_.Cut(copied);
    if (!copied.empty()) QApplication::clipboard()->setText(FromCp1252(copied));
    return o;
  }
  // The editor's text and selection into the line edit.
  void Show() {
    const QString text = FromCp1252(edit_.Display());
    if (QLineEdit::text() != text) setText(text);
    if (edit_.HasSelection()) {
      const int anchor = int(edit_.Caret() == edit_.SelectionStart() ? edit_.SelectionEnd() : edit_.SelectionStart());
      setSelection(anchor, int(edit_.Caret()) - anchor);
    } else {
      deselect();
      setCursorPosition(int(edit_.Caret()));
    }
  }
  void Report() {
    const std::string value = edit_.Value();
    if (value == reported_) return;
    reported_ = value;
    if (changed) changed("value", value);
  }

  MaskedEdit edit_;
  std::string maskText_ = "X";
  bool selectOnFocus_ = true;
  std::string reported_;
};

// Twips (1/1440 inch) in pixels at 96 dots an inch.
qreal PixelsOfTwips(int twips) { return twips / 15.0; }

QColor ColorOfRgb(uint32_t rgb) { return QColor(int((rgb >> 16) & 0xFF), int((rgb >> 8) & 0xFF), int(rgb & 0xFF)); }

// The rich text field: shows the document the object read, scrolls it and
// lets the user edit the copy shown.
class RichTextEdit : public QTextEdit {
 public:
  RichTextEdit() {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFrameShape(QFrame::NoFrame);
    setLineWrapMode(QTextEdit::WidgetWidth);
    setAcceptRichText(false);
  }

  void Set(const std::string& property, const std::string& value) {
    if (property == "document") {
      if (auto doc = TakeRichDocument(value)) {
        FillTextDocument(*document(), *doc, font());
        moveCursor(QTextCursor::Start);
      } else if (auto stream = TakeRichDocumentStream(value)) {
        FillTextDocument(*document(), *stream, font());
        moveCursor(QTextCursor::Start);
      }
    } else if (property == "background") {
      background_ = uint32_t(std::stoul(value));
      ShowBackground();
    } else if (property == "transparent") {
      // The stage shows through: nothing fills the control, only its text is drawn.
      transparent_ = value == "1";
      setAttribute(Qt::WA_TranslucentBackground, transparent_);
      viewport()->setAutoFillBackground(!transparent_);
      ShowBackground();
    } else if (property == "border") {
      // The control's border: a plain one-pixel line.
      setFrameStyle(value == "1" ? QFrame::Box | QFrame::Plain : QFrame::NoFrame);
      setLineWidth(1);
    } else if (property == "verticalScroll") {
      setVerticalScrollBarPolicy(value == "1" ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    }
  }

 private:
  void ShowBackground() {
    QPalette p = palette();
    const uint32_t bgr = background_;
    p.setColor(QPalette::Base, transparent_ ? QColor(Qt::transparent)
                                            : QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF)));
    setPalette(p);
  }
  uint32_t background_ = 0xFFFFFF;
  bool transparent_ = false;
};

const WidgetType kWidgetTypes[] = {
    {"line edit", [] { return static_cast<QWidget*>(new QLineEdit); },
     [](QWidget& w, const std::string& property, const std::string& value) {
       if (property == "text") static_cast<QLineEdit&>(w).setText(QString::fromStdString(Cp1252ToUtf8(value)));
     },
     [](QWidget& w, QObject& context, ChangeSink changed) {
       QObject::connect(static_cast<QLineEdit*>(&w), &QLineEdit::textChanged, &context,
                        [changed](const QString& text) { changed("text", Utf8ToCp1252(text.toStdString())); });
     }},
    {"masked edit", [] { return static_cast<QWidget*>(new MaskedLineEdit); },
     [](QWidget& w, const std::string& property, const std::string& value) {
       static_cast<MaskedLineEdit&>(w).Set(property, value);
     },
     [](QWidget& w, QObject&, ChangeSink changed) { static_cast<MaskedLineEdit&>(w).changed = std::move(changed); }},
    {"rich text", [] { return static_cast<QWidget*>(new RichTextEdit); },
     [](QWidget& w, const std::string& property, const std::string& value) {
       static_cast<RichTextEdit&>(w).Set(property, value);
     },
     [](QWidget&, QObject&, ChangeSink) {}},
#ifdef KV_HAVE_WEBENGINE
    {"web browser", MakeWebBrowser, SetWebBrowserProperty,
     [](QWidget& w, QObject& context, ChangeSink changed) { WatchWebBrowser(w, context, std::move(changed)); }, true,
     JudgeWebBrowserFiles},
#endif
};

// Widget types that need a part of Qt this build was made without.
const std::pair<const char*, const char*> kWidgetTypesNotBuilt[] = {
#ifndef KV_HAVE_WEBENGINE
    {"web browser", "Qt WebEngine (Qt6WebEngineWidgets, Debian's qt6-webengine-dev)"},
#endif
    {nullptr, nullptr},
};

const WidgetType* FindWidgetType(const std::string& name) {
  for (const WidgetType& t : kWidgetTypes)
    if (name == t.name) return &t;
  return nullptr;
}

}  // namespace

namespace {

QTextCharFormat MakeCharFormat(const RichCharFormat& f, const QFont& base) {
  // Only what differs from the document's default font (`base`) is set: the
  // document resolves the rest against it, so the font is the same, and a
  // format of few properties hashes and compares fast on each insert.
  QTextCharFormat chars;
  if (!f.font.empty()) {
    const QStringList families{QString::fromStdString(f.font)};
    if (families != base.families()) chars.setFontFamilies(families);
  }
  chars.setProperty(QTextFormat::FontPixelSize, std::max(1, int(std::lround(f.halfPoints * 96.0 / 144.0))));
  const int weight = f.bold ? QFont::Bold : QFont::Normal;
  if (weight != base.weight()) chars.setFontWeight(weight);
  if ((f.italic ? QFont::StyleItalic : QFont::StyleNormal) != base.style()) chars.setFontItalic(f.italic);
  if (f.underline != base.underline()) chars.setFontUnderline(f.underline);
  if (f.strike != base.strikeOut()) chars.setFontStrikeOut(f.strike);
  if (f.vertical)
    chars.setVerticalAlignment(f.vertical > 0 ? QTextCharFormat::AlignSuperScript : QTextCharFormat::AlignSubScript);
  if (f.color) chars.setForeground(ColorOfRgb(*f.color));
  if (f.background) chars.setBackground(ColorOfRgb(*f.background));
  return chars;
}

QTextBlockFormat MakeBlockFormat(const RichParagraph& p) {
  // Zero margins and no tab stops are the defaults: left unset.
  QTextBlockFormat block;
  if (p.align != RichAlign::kLeft)
    block.setAlignment(p.align == RichAlign::kCenter ? Qt::AlignHCenter
                       : p.align == RichAlign::kRight ? Qt::AlignRight
                                                      : Qt::AlignJustify);
  else
    block.setAlignment(Qt::AlignLeft);
  if (p.leftIndent) block.setLeftMargin(PixelsOfTwips(p.leftIndent));
  if (p.rightIndent) block.setRightMargin(PixelsOfTwips(p.rightIndent));
  if (p.firstIndent) block.setTextIndent(PixelsOfTwips(p.firstIndent));
  if (p.spaceBefore) block.setTopMargin(PixelsOfTwips(p.spaceBefore));
  if (p.spaceAfter) block.setBottomMargin(PixelsOfTwips(p.spaceAfter));
  if (!p.tabStops.empty()) {
    QList<QTextOption::Tab> tabs;
    for (int t : p.tabStops) tabs.append(QTextOption::Tab(PixelsOfTwips(t), QTextOption::LeftTab));
    block.setTabPositions(tabs);
  }
  return block;
}

bool SameBlockFormat(const RichParagraph& a, const RichParagraph& b) {
  return a.align == b.align && a.leftIndent == b.leftIndent && a.rightIndent == b.rightIndent &&
         a.firstIndent == b.firstIndent && a.spaceBefore == b.spaceBefore && a.spaceAfter == b.spaceAfter &&
         a.tabStops == b.tabStops;
}

// Qt hashes a format when it is first compared and keeps the hash in the
// format's shared data, which every copy then shares; each insert copies the
// format it is given, so without this every insert would hash it again.
template <class Format>
void HashOnce(const Format& format) {
  Format probe;
  probe.setProperty(QTextFormat::UserProperty, 0);
  [[maybe_unused]] volatile bool same = format == probe;
}

// The formats of one fill: a file uses few of them over and over, so each is
// made (and hashed) once, and formats that come out equal share one object,
// which lets the fill compare them by address.
class FillFormats {
 public:
  explicit FillFormats(const QFont& base) : base_(base) {}

  const QTextCharFormat& Chars(const RichCharFormat& f) {
    if (last_ && last_->rich == f) return *last_->chars;
    for (const Made& m : made_)
      if (m.rich == f) return *(last_ = &m)->chars;
    return *(last_ = &made_.emplace_back(Made{f, &Distinct(MakeCharFormat(f, base_))}))->chars;
  }
  // Another format the fill uses (the cursor's initial one), made equal
  // formats' address too.
  const QTextCharFormat& Distinct(const QTextCharFormat& chars) {
    for (const QTextCharFormat& d : distinct_)
      if (d == chars) return d;
    HashOnce(distinct_.emplace_back(chars));
    return distinct_.back();
  }
  const QTextBlockFormat& Block(const RichParagraph& p) {
    for (const auto& [seen, block] : blocks_)
      if (SameBlockFormat(*seen, p)) return block;
    HashOnce(blocks_.emplace_back(&p, MakeBlockFormat(p)).second);
    return blocks_.back().second;
  }

 private:
  struct Made {
    RichCharFormat rich;
    const QTextCharFormat* chars;
  };
  const QFont& base_;
  std::deque<QTextCharFormat> distinct_;  // stable addresses
  std::deque<Made> made_;
  const Made* last_ = nullptr;
  std::deque<std::pair<const RichParagraph*, QTextBlockFormat>> blocks_;
};

bool IsAscii(const std::string& s) {
  unsigned char any = 0;
  for (const char c : s) any |= static_cast<unsigned char>(c);
  return any < 0x80;
}

// Where a fill stands between two batches of paragraphs.
struct FillState {
  const RichParagraph* previous = nullptr;  // the last paragraph filled
  // The format the next paragraph separator takes: that of the text before
  // it, as insertBlock gives it the cursor's current format.
  const QTextCharFormat* current = nullptr;
};

using Paragraphs = std::vector<const RichParagraph*>;

// One insert a stretch of one format: adjacent runs of one format are one
// insert, and a paragraph whose block format is its predecessor's starts
// with a paragraph separator inside the pending text instead of an
// insertBlock of its own. (Inserting the text in one format and setting the
// others on ranges after walks the cursor set less but runs slower: a
// range's format splits fragments all over a tree at its full size.)
void FillParagraphs(QTextCursor& cursor, const Paragraphs& paragraphs, FillFormats& formats, FillState& state) {
  QString pending;
  const QTextCharFormat* pendingFormat = nullptr;
  auto flush = [&] {
    if (pending.isEmpty()) return;
    cursor.insertText(pending, *pendingFormat);
    state.current = pendingFormat;
    pending.resize(0);  // keeps its room for the next stretch
  };
  for (const RichParagraph* p : paragraphs) {
    if (!state.previous || !SameBlockFormat(*state.previous, *p)) {
      flush();
      if (!state.previous)
        cursor.setBlockFormat(formats.Block(*p));
      else
        cursor.insertBlock(formats.Block(*p), *state.current);
    } else {
      if (pending.isEmpty()) pendingFormat = state.current;
      pending += QChar::ParagraphSeparator;
    }
    state.previous = p;
    for (const RichRun& r : p->runs) {
      if (r.text.empty()) continue;
      const QTextCharFormat& chars = formats.Chars(r.format);
      // A "\r" that ends one run and a "\n" that begins the next are two
      // separators, inserted apart; in one insert they would be one.
      if (!pending.isEmpty() &&
          ((pendingFormat != &chars && *pendingFormat != chars) || (pending.back() == u'\r' && r.text[0] == '\n')))
        flush();
      if (pending.isEmpty()) pendingFormat = &chars;
      if (IsAscii(r.text))
        pending += QLatin1StringView(r.text.data(), qsizetype(r.text.size()));
      else
        pending += QString::fromStdString(r.text);
    }
  }
  flush();
}

// Fills from batches of paragraphs that `next` hands out until it answers
// false.
template <class Next>
void Fill(QTextDocument& target, const QFont& base, Next next) {
  target.clear();
  // A shown file is not an edit to undo; one edit block lays out once.
  target.setUndoRedoEnabled(false);
  target.setDefaultFont(base);
  FillFormats formats(base);
  QTextCursor cursor(&target);
  cursor.beginEditBlock();
  FillState state;
  state.current = &formats.Distinct(cursor.charFormat());
  Paragraphs batch;
  while (next(batch)) FillParagraphs(cursor, batch, formats, state);
  cursor.endEditBlock();
  target.setUndoRedoEnabled(true);
}

}  // namespace

// Pixel sizes at 96 dots an inch, so the text lays out alike on every display.
//
// Each insert into a QTextDocument costs a few thousand instructions whatever
// its length (format lookup, fragment split, cursor bookkeeping), so the text
// goes in as few inserts as the formats allow.
void FillTextDocument(QTextDocument& target, const RichDocument& doc, const QFont& base) {
  bool given = false;
  Fill(target, base, [&](Paragraphs& batch) {
    if (given) return false;
    batch.clear();
    for (const RichParagraph& p : doc.paragraphs) batch.push_back(&p);
    given = true;
    return !batch.empty();
  });
}

void FillTextDocument(QTextDocument& target, RichDocumentStream& stream, const QFont& base) {
  Fill(target, base, [&](Paragraphs& batch) { return stream.Next(batch); });
  if (!stream.Error().empty()) FillTextDocument(target, RichDocument(), base);
}

int QtKeyOfVirtualKey(uint32_t vk) {
  if (vk >= 'A' && vk <= 'Z') return Qt::Key_A + int(vk - 'A');
  if (vk >= '0' && vk <= '9') return Qt::Key_0 + int(vk - '0');
  if (vk >= 0x70 && vk <= 0x87) return Qt::Key_F1 + int(vk - 0x70);
  switch (vk) {
    case 0x1B: return Qt::Key_Escape;
    case 0x0D: return Qt::Key_Return;
    case 0x20: return Qt::Key_Space;
    case 0x09: return Qt::Key_Tab;
    case 0x08: return Qt::Key_Backspace;
    case 0x2E: return Qt::Key_Delete;
    case 0x2D: return Qt::Key_Insert;
    case 0x24: return Qt::Key_Home;
    case 0x23: return Qt::Key_End;
    case 0x21: return Qt::Key_PageUp;
    case 0x22: return Qt::Key_PageDown;
    case 0x25: return Qt::Key_Left;
    case 0x26: return Qt::Key_Up;
    case 0x27: return Qt::Key_Right;
    case 0x28: return Qt::Key_Down;
    case 0x10: return Qt::Key_Shift;
    case 0x11: return Qt::Key_Control;
    case 0x12: return Qt::Key_Alt;
    case 0x13: return Qt::Key_Pause;
    default: return Qt::Key_unknown;
  }
}

// ---------------------------------------------------------------- the widget

class WidgetEvents;

// A widget's state, shared by its engine-side window and the GUI thread.
struct WidgetState {
  WidgetState(QtWidgetFactory& f, const WidgetType& t, WidgetListener& l) : factory(f), type(t), listener(&l) {}
  // Work posted for the widget that never ran (the run ended first) leaves
  // it here: on the GUI thread it goes now, before the application does.
  ~WidgetState() {
    if (qApp && QThread::currentThread() == qApp->thread()) Destroy();
  }

  QtWidgetFactory& factory;
  const WidgetType& type;
  std::recursive_mutex listenerLock;
  WidgetListener* listener;  // null once the window is gone
  // The factory went first (its destructor destroyed the widget): nothing
  // more reaches the GUI thread through it.
  std::atomic<bool> orphaned{false};
  mutable std::mutex lock;
  Known known;
  // GUI thread only.
  QPointer<QWidget> widget;
  QPointer<StageView> view;
  QGraphicsProxyWidget* proxy = nullptr;
  WidgetEvents* events = nullptr;

  void Build();
  void Place();
  void Redraw();
  void Forward(QEvent* e);
  void Changed(const std::string& property, const std::string& value) {
    {
      std::lock_guard l(lock);
      known.properties[property] = value;
    }
    std::lock_guard l(listenerLock);
    if (listener) listener->WidgetChanged(property, value);
  }
  void Focused() {
    std::lock_guard l(listenerLock);
    if (listener) listener->WidgetFocused();
  }
  void Destroy();
};

// Watches the widget and its view on the GUI thread.
class WidgetEvents : public QObject {
 public:
  explicit WidgetEvents(std::weak_ptr<WidgetState> state) : state_(std::move(state)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    auto s = state_.lock();
    if (!s) return false;
    if (watched == s->widget) {
      // A click in the window gives the widget the focus: the stage follows.
      if (e->type() == QEvent::FocusIn && static_cast<QFocusEvent*>(e)->reason() == Qt::MouseFocusReason)
        s->Focused();
      if (e->type() == QEvent::KeyPress || e->type() == QEvent::FocusIn || e->type() == QEvent::FocusOut ||
          e->type() == QEvent::MouseButtonRelease)
        QMetaObject::invokeMethod(this, [w = state_] {
          if (auto st = w.lock()) st->Redraw();
        }, Qt::QueuedConnection);
    } else if (s->view && watched == s->view->viewport()) {
      s->Forward(e);
    }
    return false;
  }

 private:
  std::weak_ptr<WidgetState> state_;
};

void WidgetState::Build() {
  widget = type.make();
  widget->setStyle(factory.style());
  widget->setPalette(factory.style()->standardPalette());
  QFont font("Liberation Sans");
  font.setPixelSize(12);
  widget->setFont(font);
  widget->installEventFilter(events);
  type.watch(*widget, *events, [this](const std::string& property, const std::string& value) {
    Changed(property, value);
    Redraw();
  });
  if (type.judge)
    type.judge(*widget, [this](const std::string& address) {
      std::lock_guard l(listenerLock);
      return listener && listener->MayReadAddress(address);
    });
  Place();
  if (type.drawsOnlyShown && !view) {
    widget->setAttribute(Qt::WA_DontShowOnScreen);
    widget->show();
  }
}

void WidgetState::Destroy() {
  delete view.data();  // takes the proxy and the embedded widget with it
  delete widget.data();
  delete events;
  events = nullptr;
}

// Places the widget as the stage and the window stand.
void WidgetState::Place() {
  if (!widget) return;
  Rect g;
  bool visible;
  {
    std::lock_guard l(lock);
    g = known.geometry;
    visible = known.visible;
  }
  widget->resize(std::max(1, g.Width()), std::max(1, g.Height()));
  const QtWidgetFactory::Placement at = factory.placement();
  if (at.window && !view) {
    view = new StageView(at.window);
    proxy = view->scene().addWidget(widget);
    proxy->setCacheMode(QGraphicsItem::ItemCoordinateCache);
    view->viewport()->installEventFilter(events);
  }
  if (view) {
    const QRect area = at.stageArea();
    const double sx = double(area.width()) / std::max(1, at.stageSize.width());
    const double sy = double(area.height()) / std::max(1, at.stageSize.height());
    const int left = area.left() + int(std::floor(g.left * sx)), top = area.top() + int(std::floor(g.top * sy));
    const QRect shown(left, top, area.left() + int(std::floor(g.right * sx)) - left,
                      area.top() + int(std::floor(g.bottom * sy)) - top);
    view->setGeometry(shown);
    view->setSceneRect(0, 0, std::max(1, g.Width()), std::max(1, g.Height()));
    view->setTransform(QTransform::fromScale(sx, sy));
    // Clipped with the stage: nothing shows beyond the stage's area.
    const QRect inside = shown.intersected(area).translated(-shown.topLeft());
    if (inside == QRect(QPoint(0, 0), shown.size()))
      view->clearMask();
    else if (!inside.isEmpty())
      view->setMask(QRegion(inside));
    view->setVisible(visible && !inside.isEmpty());
  }
  Redraw();
}

// Draws the widget at stage size for frames, hit tests and stamping.
void WidgetState::Redraw() {
  if (!widget) return;
  QImage image;
  if (widget->testAttribute(Qt::WA_TranslucentBackground)) {
    // What the widget leaves undrawn stays clear, for the stage beneath.
    image = QImage(widget->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
  } else {
    image = QImage(widget->size(), QImage::Format_RGB32);
    image.fill(widget->palette().color(QPalette::Window));
    widget->render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);
  }
  std::lock_guard l(lock);
  known.image = std::move(image);
}

// Mouse input on the widget reaches the drawing window too, at the same
// point, so the stage's event routing sees clicks on window objects.
void WidgetState::Forward(QEvent* e) {
  const QEvent::Type t = e->type();
  if (t != QEvent::MouseButtonPress && t != QEvent::MouseButtonRelease && t != QEvent::MouseButtonDblClick &&
      t != QEvent::MouseMove)
    return;
  {
    std::lock_guard l(lock);
    if (!known.forwardMouse) return;
  }
  QWidget* window = factory.placement().window;
  if (!window) return;
  auto* m = static_cast<QMouseEvent*>(e);
  const QPointF p = view->viewport()->mapTo(window, m->position().toPoint());
  QMouseEvent copy(t, p, window->mapToGlobal(p), m->button(), m->buttons(), m->modifiers());
  QCoreApplication::sendEvent(window, &copy);
}

class QtWidgetWindow : public WidgetWindow {
 public:
  explicit QtWidgetWindow(std::shared_ptr<WidgetState> state) : s_(std::move(state)) {
    Gui([weak = std::weak_ptr<WidgetState>(s_)](WidgetState& s) {
      s.events = new WidgetEvents(weak);
      s.Build();
    });
  }

  ~QtWidgetWindow() override {
    {
      std::lock_guard lock(s_->listenerLock);
      s_->listener = nullptr;
    }
    if (s_->orphaned) return;
    s_->factory.Forget(s_.get());
    // The widgets go on the GUI thread, after the work posted before.
    Gui([](WidgetState& s) { s.Destroy(); });
  }

  // ChildWindow
  Rect Geometry() const override {
    std::lock_guard lock(s_->lock);
    return s_->known.geometry;
  }
  void Move(const Rect& r) override {
    {
      std::lock_guard lock(s_->lock);
      s_->known.geometry = r;
    }
    Gui([](WidgetState& s) { s.Place(); });
  }
  void SetVisible(bool visible) override {
    {
      std::lock_guard lock(s_->lock);
      s_->known.visible = visible;
    }
    Gui([](WidgetState& s) { s.Place(); });
  }
  void Repaint() override {
    Gui([](WidgetState& s) {
      if (s.view) s.view->viewport()->update();
      s.Redraw();
    });
  }
  void StackBehind(ChildWindow* above) override {
    auto* other = dynamic_cast<QtWidgetWindow*>(above);
    std::shared_ptr<WidgetState> front = other ? other->s_ : nullptr;
    Gui([front](WidgetState& s) {
      if (!s.view) return;
      if (front && front->view)
        s.view->stackUnder(front->view);
      else
        s.view->raise();
    });
  }
  void AttachToStage() override {}
  void ForwardMouseToStage(bool on) override {
    std::lock_guard lock(s_->lock);
    s_->known.forwardMouse = on;
  }
  ColorRef PixelAt(int x, int y) const override {
    std::lock_guard lock(s_->lock);
    const Known& k = s_->known;
    const QPoint p(x - k.geometry.left, y - k.geometry.top);
    if (!k.image.valid(p)) return ColorRef();
    const QRgb c = k.image.pixel(p);
    return ColorRef::FromRgb(uint8_t(qRed(c)), uint8_t(qGreen(c)), uint8_t(qBlue(c)));
  }
  bool RenderInto(PixelBuffer& target, Point origin) override {
    std::lock_guard lock(s_->lock);
    const Known& k = s_->known;
    if (!k.visible || k.image.isNull()) return false;
    const Rect g = k.geometry;
    const Rect r = g.Offset(-origin.x, -origin.y).Intersect(target.Bounds());
    if (k.image.hasAlphaChannel()) {
      // Drawn over what is beneath as the window's painter draws it there.
      if (r.Width() <= 0 || r.Height() <= 0) return true;
      QImage under(r.Width(), r.Height(), QImage::Format_RGB32);
      for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) {
          const ColorRef c = target.GetPixel(x, y);
          under.setPixel(x - r.left, y - r.top, qRgb(c.Red(), c.Green(), c.Blue()));
        }
      {
        QPainter painter(&under);
        painter.drawImage(QPoint(g.left - origin.x - r.left, g.top - origin.y - r.top), k.image);
      }
      for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) {
          const QRgb c = under.pixel(x - r.left, y - r.top);
          target.SetPixel(x, y, ColorRef::FromRgb(uint8_t(qRed(c)), uint8_t(qGreen(c)), uint8_t(qBlue(c))));
        }
      return true;
    }
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x) {
        const QPoint p(x + origin.x - g.left, y + origin.y - g.top);
        if (!k.image.valid(p)) continue;
        const QRgb c = k.image.pixel(p);
        target.SetPixel(x, y, ColorRef::FromRgb(uint8_t(qRed(c)), uint8_t(qGreen(c)), uint8_t(qBlue(c))));
      }
    return true;
  }

  // WidgetWindow
  void SetProperty(const std::string& name, const std::string& value) override {
    {
      std::lock_guard lock(s_->lock);
      s_->known.properties[name] = value;
    }
    Gui([name, value](WidgetState& s) {
      if (!s.widget) return;
      s.type.set(*s.widget, name, value);
      s.Redraw();
    });
  }
  std::string Property(const std::string& name) const override {
    std::lock_guard lock(s_->lock);
    auto it = s_->known.properties.find(name);
    return it == s_->known.properties.end() ? std::string() : it->second;
  }
  void SetFocus(bool focused) override {
    Gui([focused](WidgetState& s) {
      if (!s.widget) return;
      if (s.view) {
        if (focused) {
          s.view->setFocus(Qt::OtherFocusReason);
          s.view->scene().setFocusItem(s.proxy, Qt::OtherFocusReason);
        } else if (s.view->hasFocus()) {
          s.view->clearFocus();
        }
      }
      // The widget is told directly: off screen no window is ever active,
      // and a widget embedded in the view takes keys without drawing its
      // caret. So the focused object shows its caret alike in both.
      QFocusEvent e(focused ? QEvent::FocusIn : QEvent::FocusOut, Qt::OtherFocusReason);
      QCoreApplication::sendEvent(s.widget, &e);
      s.widget->update();
      s.Redraw();
    });
  }
  bool OfferKey(const KeyStroke& stroke) override {
    bool taken = false;
    RunOnGuiThread(qApp, [&] {
      WidgetState& s = *s_;
      if (!s.widget) return;
      const Qt::KeyboardModifiers mods = (stroke.modifiers & 1 ? Qt::ShiftModifier : Qt::NoModifier) |
                                         (stroke.modifiers & 2 ? Qt::ControlModifier : Qt::NoModifier) |
                                         (stroke.modifiers & 4 ? Qt::AltModifier : Qt::NoModifier);
      if (stroke.kind == KeyStroke::Kind::kChar) {
        // Typed text: one key event a character, as a keyboard types it.
        taken = true;
        for (QChar c : QString::fromStdString(Cp1252ToUtf8(stroke.text))) {
          QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
          QCoreApplication::sendEvent(s.widget, &press);
          taken = taken && press.isAccepted();
        }
      } else {
        QKeyEvent e(stroke.kind == KeyStroke::Kind::kDown ? QEvent::KeyPress : QEvent::KeyRelease,
                    QtKeyOfVirtualKey(stroke.key), mods);
        QCoreApplication::sendEvent(s.widget, &e);
        taken = e.isAccepted();
      }
      s.Redraw();
    });
    return taken;
  }

 private:
  void Gui(std::function<void(WidgetState&)> work) {
    if (s_->orphaned) return;
    s_->factory.post()([s = s_, work = std::move(work)] { work(*s); });
  }

  std::shared_ptr<WidgetState> s_;
};

// ---------------------------------------------------------------- the factory

namespace {

// Lays the widgets out again when the drawing window changes size.
class ResizeWatch : public QObject {
 public:
  explicit ResizeWatch(QtWidgetFactory& f) : factory_(f) {}
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Resize) factory_.Relayout();
    return false;
  }

 private:
  QtWidgetFactory& factory_;
};

}  // namespace

void PrepareWidgetPlatform() {
#ifdef KV_HAVE_WEBENGINE
  PrepareWebEngine();
#endif
}

QtWidgetFactory::QtWidgetFactory(Post post) : post_(std::move(post)), style_(QStyleFactory::create("Fusion")) {
  // Widgets whose deletion was still queued when the run ended keep using
  // the style until the application goes.
  style_->setParent(qApp);
  // A caret that blinks would make a frame depend on the moment it is
  // taken; the focused widget shows it steadily, in the window as headless.
  QApplication::setCursorFlashTime(0);
}

QtWidgetFactory::~QtWidgetFactory() {
  // Widgets whose objects outlive the factory go now, on the GUI thread the
  // factory is destroyed on, while the application (and Chromium's profile
  // behind a web page) is still there.
  std::vector<std::shared_ptr<WidgetState>> live;
  {
    std::lock_guard lock(lock_);
    for (auto& w : live_)
      if (auto s = w.lock()) live.push_back(s);
    live_.clear();
  }
  for (auto& s : live) {
    s->orphaned = true;
    s->Destroy();
  }
  delete resizeWatch_;
}

void QtWidgetFactory::AttachWindow(QWidget* drawingWindow, std::function<QRect()> stageArea, QSize stageSize) {
  {
    std::lock_guard lock(lock_);
    placement_ = {drawingWindow, std::move(stageArea), stageSize};
  }
  resizeWatch_ = new ResizeWatch(*this);
  drawingWindow->installEventFilter(resizeWatch_);
}

QtWidgetFactory::Placement QtWidgetFactory::placement() const {
  std::lock_guard lock(lock_);
  return placement_;
}

void QtWidgetFactory::Relayout() {
  std::vector<std::shared_ptr<WidgetState>> live;
  {
    std::lock_guard lock(lock_);
    for (auto& w : live_)
      if (auto s = w.lock()) live.push_back(s);
  }
  for (auto& s : live) s->Place();
}

void QtWidgetFactory::Forget(const WidgetState* state) {
  std::lock_guard lock(lock_);
  std::erase_if(live_, [&](const std::weak_ptr<WidgetState>& w) {
    auto s = w.lock();
    return !s || s.get() == state;
  });
}

std::unique_ptr<WidgetWindow> QtWidgetFactory::Create(const std::string& type, WidgetListener& listener) {
  const WidgetType* known = FindWidgetType(type);
  for (const auto& [name, needs] : kWidgetTypesNotBuilt)
    if (name && type == name)
      throw std::invalid_argument("the widget type \"" + type + "\" needs " + needs + ", which this player was built without");
  if (!known) throw std::invalid_argument("no native widget of the type \"" + type + "\"");
  auto state = std::make_shared<WidgetState>(*this, *known, listener);
  {
    std::lock_guard lock(lock_);
    live_.push_back(state);
  }
  return std::make_unique<QtWidgetWindow>(std::move(state));
}

}  // namespace kv
