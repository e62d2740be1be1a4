#pragma once

#include <QtWidgets/QAbstractScrollArea>

#include <QtCore/QString>

// A multi-line, editable, never-wrapping text box whose content is exactly the
// text it was given plus what the user typed, character for character:
// "\r\n" stays two characters, a lone "\r" or "\n" stays, U+0000 stays.
//
// On screen "\r\n", a lone "\r" and a lone "\n" are each one line break; the
// view paints only the visible lines, found through an index of line starts,
// in a monospace font, with both scroll bars.
//
// It does not interpret what it shows: no rich text, no markup, no links.
class TextBox : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit TextBox(QWidget *parent = nullptr);
    ~TextBox() override;

    // The whole content. A set replaces it; a set that extends the current
    // content only appends to the line index.
    QString Text() const;
    void setText(const QString &text);
};
