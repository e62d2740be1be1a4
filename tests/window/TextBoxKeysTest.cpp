// Every standard key the text box takes, typed as a desktop types it: real X
// key events, under the X11 key bindings of Qt's xcb platform, each binding
// of each key. What it does is held against Qt's own plain text widget, given
// the same text, caret and selection, typed into the same way.
#include "TextBox.h"
#include "TextPrinters.h"
#include "XInput.h"

#include <QtTest/QTest>

#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QWidget>

#include <QtGui/QClipboard>
#include <QtGui/QGuiApplication>
#include <QtGui/QKeyEvent>
#include <QtGui/QTextCursor>

#include <QtCore/QList>
#include <QtCore/QStringList>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>

using namespace Qt::StringLiterals;

namespace {

// A place in the sample text; EndOfLine as column is the line's end.
struct Place
{
    int line = 0;
    int column = 0;
};
constexpr int EndOfLine = -1;

// How a key's outcome is judged.
enum class Judged {
    LikeQt, // text, caret and anchor as Qt's widget has them
    ByPages, // as Qt's, but the caret's line within PageSlack lines of Qt's
    Clipboard, // Copy, Cut, Paste: what the clipboard holds or gave
    LineBreak, // the box's break is "\r\n" where Qt's widget has a separator
    Ignored, // a key the box leaves alone: nothing changes
};

// The edit history a key finds.
enum class History {
    None,
    Typed, // "xy" typed at the caret
    TypedAndUndone,
};

struct Row
{
    QKeySequence::StandardKey key;
    const char *name;
    Place anchor;
    Place caret;
    Judged judged = Judged::LikeQt;
    History history = History::None;
    // Qt's text widgets take this key for the standard key whatever the
    // platform's bindings hold (X11 binds no key to Backspace).
    Qt::Key plainKey = Qt::Key_unknown;
};

// Both move by about a view of lines, Qt's widget by its height in pixels,
// the box by whole rows.
constexpr int PageSlack = 2;

// Lines long enough for any column the rows use but one, line 23, short, for
// Up and Down to meet; ASCII and Latin-1, "\n" breaks only, so that positions
// are the same in both widgets.
QString sampleText()
{
    QStringList lines;
    for (int line = 0; line < 60; ++line)
        lines.append(line == 23 ? u"short"_s
                                : u"line %1: alpha beta_2, gamma-delta  \u00E9psilon"_s.arg(line, 2, 10, QChar(u'0')));
    return lines.join(u'\n');
}

qsizetype positionOf(const QString &text, Place place)
{
    qsizetype start = 0;
    for (int line = 0; line < place.line; ++line)
        start = text.indexOf(u'\n', start) + 1;
    qsizetype end = text.indexOf(u'\n', start);
    if (end < 0)
        end = text.size();
    return place.column == EndOfLine ? end : std::min(start + place.column, end);
}

// Where a position is, for messages and for page moves.
Place placeOf(const QString &text, qsizetype position)
{
    const QStringView before = QStringView(text).left(position);
    const auto line = static_cast<int>(before.count(u'\n'));
    return Place{line, static_cast<int>(position - (before.lastIndexOf(u'\n') + 1))};
}

const Row Rows[] = {
    {QKeySequence::SelectAll, "SelectAll", {20, 12}, {20, 12}},
    {QKeySequence::Copy, "Copy", {20, 9}, {20, 20}, Judged::Clipboard},
    {QKeySequence::Cut, "Cut", {20, 20}, {20, 9}, Judged::Clipboard},
    {QKeySequence::Paste, "Paste", {20, 9}, {20, 14}, Judged::Clipboard},
    {QKeySequence::Undo, "Undo", {20, 12}, {20, 12}, Judged::LikeQt, History::Typed},
    {QKeySequence::Redo, "Redo", {20, 12}, {20, 12}, Judged::LikeQt, History::TypedAndUndone},

    // A selection collapses to its edge; the caret crosses line breaks.
    {QKeySequence::MoveToPreviousChar, "MoveToPreviousChar", {21, 0}, {21, 0}},
    {QKeySequence::MoveToNextChar, "MoveToNextChar", {20, 9}, {20, 14}},
    {QKeySequence::MoveToPreviousWord, "MoveToPreviousWord", {20, 20}, {20, 20}},
    {QKeySequence::MoveToNextWord, "MoveToNextWord", {20, 12}, {20, 12}},
    {QKeySequence::MoveToPreviousLine, "MoveToPreviousLine", {24, 30}, {24, 30}},
    {QKeySequence::MoveToNextLine, "MoveToNextLine", {22, 30}, {22, 30}},
    {QKeySequence::MoveToPreviousPage, "MoveToPreviousPage", {40, 12}, {40, 12}, Judged::ByPages},
    {QKeySequence::MoveToNextPage, "MoveToNextPage", {20, 12}, {20, 12}, Judged::ByPages},
    {QKeySequence::MoveToStartOfLine, "MoveToStartOfLine", {20, 12}, {20, 12}},
    {QKeySequence::MoveToEndOfLine, "MoveToEndOfLine", {20, 12}, {20, 12}},
    {QKeySequence::MoveToStartOfDocument, "MoveToStartOfDocument", {20, 12}, {20, 12}},
    {QKeySequence::MoveToEndOfDocument, "MoveToEndOfDocument", {20, 12}, {20, 12}},

    // A selection already there keeps its anchor.
    {QKeySequence::SelectPreviousChar, "SelectPreviousChar", {21, 3}, {21, 0}},
    {QKeySequence::SelectNextChar, "SelectNextChar", {20, 9}, {20, EndOfLine}},
    {QKeySequence::SelectPreviousWord, "SelectPreviousWord", {20, 25}, {20, 20}},
    {QKeySequence::SelectNextWord, "SelectNextWord", {20, 9}, {20, 12}},
    {QKeySequence::SelectPreviousLine, "SelectPreviousLine", {24, 28}, {24, 30}},
    {QKeySequence::SelectNextLine, "SelectNextLine", {22, 9}, {22, 30}},
    {QKeySequence::SelectPreviousPage, "SelectPreviousPage", {40, 20}, {40, 12}, Judged::ByPages},
    {QKeySequence::SelectNextPage, "SelectNextPage", {20, 9}, {20, 12}, Judged::ByPages},
    {QKeySequence::SelectStartOfLine, "SelectStartOfLine", {20, 14}, {20, 12}},
    {QKeySequence::SelectEndOfLine, "SelectEndOfLine", {20, 9}, {20, 12}},
    {QKeySequence::SelectStartOfDocument, "SelectStartOfDocument", {20, 14}, {20, 12}},
    {QKeySequence::SelectEndOfDocument, "SelectEndOfDocument", {20, 9}, {20, 12}},

    {QKeySequence::Backspace, "Backspace", {21, 0}, {21, 0}, Judged::LikeQt, History::None, Qt::Key_Backspace},
    {QKeySequence::Delete, "Delete", {20, EndOfLine}, {20, EndOfLine}, Judged::LikeQt, History::None,
     Qt::Key_Delete},
    {QKeySequence::DeleteStartOfWord, "DeleteStartOfWord", {20, 12}, {20, 12}},
    {QKeySequence::DeleteEndOfWord, "DeleteEndOfWord", {20, 12}, {20, 12}},
    {QKeySequence::DeleteEndOfLine, "DeleteEndOfLine", {20, 12}, {20, 12}},
    {QKeySequence::InsertParagraphSeparator, "InsertParagraphSeparator", {20, 9}, {20, 14}, Judged::LineBreak},
    {QKeySequence::InsertLineSeparator, "InsertLineSeparator", {20, 12}, {20, 12}, Judged::LineBreak},

    {QKeySequence::Bold, "Bold", {20, 9}, {20, 14}, Judged::Ignored},
};

// What the clipboard gave before each key: distinct texts for the clipboard
// and the X11 primary selection, breaks "\n" as in the sample.
const QString ClipboardText = u"from the\nclipboard"_s;
const QString PrimaryText = u"primary"_s;

// A widget's text and selection after a key, and what the clipboard held.
struct Outcome
{
    QString text;
    qsizetype caret = 0;
    qsizetype anchor = 0;
    QString clipboard;
};

// Key presses that reach a widget, the modifier keys' own presses aside: the
// evidence that a typed binding came through as that binding.
class KeyPresses : public QObject
{
public:
    explicit KeyPresses(QWidget *widget)
        : m_widget(widget)
    {
        widget->installEventFilter(this);
    }

    QList<QKeyCombination> presses;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_widget && event->type() == QEvent::KeyPress) {
            const auto *press = static_cast<const QKeyEvent *>(event);
            const auto key = static_cast<Qt::Key>(press->key());
            const bool modifierKey = key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt
                || key == Qt::Key_Meta || key == Qt::Key_Super_L || key == Qt::Key_Super_R;
            if (!modifierKey)
                presses.append(QKeyCombination(press->modifiers() & ~Qt::KeypadModifier, key));
        }
        return false;
    }

private:
    QWidget *m_widget = nullptr;
};

std::string describe(const QString &text)
{
    std::ostringstream out;
    printCharacters(text, &out);
    return out.str();
}

// Where two texts first part, with a little of each from there.
std::string difference(const QString &text, const QString &expected)
{
    qsizetype at = 0;
    while (at < text.size() && at < expected.size() && text[at] == expected[at])
        ++at;
    const Place place = placeOf(text, at);
    std::ostringstream out;
    out << "differ from " << at << " (line " << place.line << ", column " << place.column << "): "
        << describe(text.mid(at, 16)) << " against " << describe(expected.mid(at, 16));
    return out.str();
}

class TextBoxKeysTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (const QString why = XInput::unavailableReason(); !why.isEmpty())
            GTEST_SKIP() << why.toStdString();
        // Side by side in one window: the focus goes from one to the other
        // without the X input focus moving.
        auto *layout = new QHBoxLayout(&window);
        layout->addWidget(&box);
        layout->addWidget(&edit);
        edit.setFont(box.font());
        edit.setLineWrapMode(QPlainTextEdit::NoWrap);
        // The same view: both bars always there, as the box has them.
        edit.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        edit.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        box.setFixedSize(420, 300);
        edit.setFixedSize(420, 300);
        window.show();
        ASSERT_TRUE(XInput::focus(&box));
    }

    void putState(const QString &text, qsizetype anchor, qsizetype caret, History history)
    {
        box.setText(text);
        box.setSelection(anchor, caret);
        edit.setPlainText(text);
        QTextCursor cursor(edit.document());
        cursor.setPosition(static_cast<int>(anchor));
        cursor.setPosition(static_cast<int>(caret), QTextCursor::KeepAnchor);
        edit.setTextCursor(cursor);
        if (history == History::None)
            return;
        QTest::keyClicks(&box, u"xy"_s);
        QTest::keyClicks(&edit, u"xy"_s);
        if (history == History::TypedAndUndone) {
            box.undo();
            edit.undo();
        }
    }

    static void putClipboard()
    {
        QClipboard *clipboard = QGuiApplication::clipboard();
        clipboard->setText(ClipboardText);
        if (clipboard->supportsSelection())
            clipboard->setText(PrimaryText, QClipboard::Selection);
    }

    // Types the binding into the widget with the clipboard as putClipboard()
    // leaves it; fails when the binding did not come through as itself.
    ::testing::AssertionResult typeInto(QWidget *widget, const QKeySequence &binding)
    {
        putClipboard();
        if (::testing::AssertionResult focused = XInput::focus(widget); !focused)
            return focused;
        KeyPresses presses(widget);
        if (::testing::AssertionResult typed = XInput::typeKeys(binding); !typed)
            return typed;
        QList<QKeyCombination> expected;
        for (uint i = 0; i < static_cast<uint>(binding.count()); ++i)
            expected.append(binding[i]);
        if (presses.presses != expected) {
            QStringList arrived;
            for (const QKeyCombination combination : presses.presses)
                arrived.append(QKeySequence(combination).toString());
            return ::testing::AssertionFailure()
                << "the keys that arrived were [" << arrived.join(u", "_s).toStdString() << "]";
        }
        return ::testing::AssertionSuccess();
    }

    Outcome boxOutcome() const
    {
        const qsizetype caret = box.cursorPosition();
        const qsizetype anchor = caret == box.selectionStart() ? box.selectionEnd() : box.selectionStart();
        return {box.Text().toString(), caret, anchor, QGuiApplication::clipboard()->text()};
    }

    Outcome editOutcome() const
    {
        const QTextCursor cursor = edit.textCursor();
        return {edit.toPlainText(), cursor.position(), cursor.anchor(), QGuiApplication::clipboard()->text()};
    }

    // Declared first, destroyed last: the box and Qt's widget leave it first.
    QWidget window;
    TextBox box;
    QPlainTextEdit edit;
};

// The box's outcome against the one it should have: each part that differs
// is one failure, e.g. "MoveToNextWord Ctrl+Right: caret 3, Qt's 6".
void expectOutcome(const std::string &label, const Outcome &actual, const Outcome &expected, const char *whose,
                   bool checkClipboard)
{
    if (actual.text != expected.text)
        ADD_FAILURE() << label << ": texts " << difference(actual.text, expected.text) << " (" << whose << ")";
    if (actual.caret != expected.caret)
        ADD_FAILURE() << label << ": caret " << actual.caret << ", " << whose << " " << expected.caret;
    if (actual.anchor != expected.anchor)
        ADD_FAILURE() << label << ": anchor " << actual.anchor << ", " << whose << " " << expected.anchor;
    if (checkClipboard && actual.clipboard != expected.clipboard)
        ADD_FAILURE() << label << ": clipboard " << describe(actual.clipboard) << ", " << whose << " "
                      << describe(expected.clipboard);
}

TEST_F(TextBoxKeysTest, EveryStandardKeyDoesWhatQtsTextWidgetDoesOnThePlatformsBindings)
{
    const QString text = sampleText();
    const bool hasPrimary = QGuiApplication::clipboard()->supportsSelection();
    int typed = 0;
    for (const Row &row : Rows) {
        QList<QKeySequence> bindings = QKeySequence::keyBindings(row.key);
        if (row.plainKey != Qt::Key_unknown && !bindings.contains(QKeySequence(row.plainKey)))
            bindings.append(QKeySequence(row.plainKey));
        if (bindings.isEmpty()) {
            ADD_FAILURE() << row.name << ": no key is bound to it on " << QGuiApplication::platformName().toStdString();
            continue;
        }
        const qsizetype anchor = positionOf(text, row.anchor);
        const qsizetype caret = positionOf(text, row.caret);
        const qsizetype start = std::min(anchor, caret);
        const qsizetype end = std::max(anchor, caret);
        for (const QKeySequence &binding : bindings) {
            const std::string label = std::string(row.name) + ' ' + binding.toString().toStdString();
            SCOPED_TRACE(label);
            QString whyNot;
            if (XInput::keyName(binding[0], &whyNot).isEmpty()) {
                ADD_FAILURE() << label << ": cannot be typed: " << whyNot.toStdString();
                continue;
            }
            putState(text, anchor, caret, row.history);
            const Outcome before = boxOutcome();
            if (::testing::AssertionResult done = typeInto(&box, binding); !done) {
                ADD_FAILURE() << label << " into the box: " << done.message();
                continue;
            }
            ++typed;
            const Outcome got = boxOutcome();
            if (row.judged == Judged::Ignored) {
                expectOutcome(label, got, before, "before", false);
                continue;
            }
            if (::testing::AssertionResult done = typeInto(&edit, binding); !done) {
                ADD_FAILURE() << label << " into Qt's widget: " << done.message();
                continue;
            }
            const Outcome qt = editOutcome();

            switch (row.judged) {
            case Judged::LikeQt:
                expectOutcome(label, got, qt, "Qt's", false);
                break;
            case Judged::ByPages: {
                const Place place = placeOf(got.text, got.caret);
                const Place qtPlace = placeOf(qt.text, qt.caret);
                if (std::abs(place.line - qtPlace.line) > PageSlack || place.column != qtPlace.column)
                    ADD_FAILURE() << label << ": caret at line " << place.line << " column " << place.column
                                  << ", Qt's at line " << qtPlace.line << " column " << qtPlace.column;
                const bool selecting =
                    row.key == QKeySequence::SelectPreviousPage || row.key == QKeySequence::SelectNextPage;
                // A page move keeps no selection; a selecting one keeps the anchor.
                if (got.anchor != (selecting ? anchor : got.caret))
                    ADD_FAILURE() << label << ": anchor " << got.anchor << ", expected "
                                  << (selecting ? anchor : got.caret);
                EXPECT_EQ(qt.anchor, selecting ? anchor : qt.caret) << "Qt's own widget";
                EXPECT_EQ(got.text, text);
                break;
            }
            case Judged::Clipboard: {
                Outcome expected = before;
                const QString selected = text.mid(start, end - start);
                if (row.key == QKeySequence::Copy) {
                    expected.clipboard = selected;
                } else if (row.key == QKeySequence::Cut) {
                    expected.text = text.left(start) + text.mid(end);
                    expected.caret = expected.anchor = start;
                    expected.clipboard = selected;
                } else {
                    // X11's Ctrl+Shift+Insert pastes the primary selection.
                    const bool primary = hasPrimary && binding == QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Insert);
                    const QString pasted = primary ? PrimaryText : ClipboardText;
                    expected.text = text.left(start) + pasted + text.mid(end);
                    expected.caret = expected.anchor = start + pasted.size();
                    expected.clipboard = ClipboardText;
                }
                expectOutcome(label, got, expected, "expected", true);
                expectOutcome(label + " (Qt's own widget)", qt, expected, "expected", true);
                break;
            }
            case Judged::LineBreak: {
                const Outcome expected{text.left(start) + u"\r\n"_s + text.mid(end), start + 2, start + 2, {}};
                expectOutcome(label, got, expected, "expected", false);
                // Qt's widget takes the binding for a separator, one character.
                const Outcome separated{text.left(start) + u"\n"_s + text.mid(end), start + 1, start + 1, {}};
                expectOutcome(label + " (Qt's own widget)", qt, separated, "expected", false);
                break;
            }
            case Judged::Ignored:
                break;
            }
        }
    }
    EXPECT_GT(typed, 0) << "no binding was typed";
}

} // namespace
