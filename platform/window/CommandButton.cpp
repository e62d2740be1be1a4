#include "CommandButton.h"

CommandButton::CommandButton(QWidget *parent)
    : QPushButton(parent)
{
    // A plain window has no default button; Return must not click "Open".
    setAutoDefault(false);
    connect(this, &QPushButton::clicked, this, &CommandButton::Click);
}

QString CommandButton::Caption() const
{
    return text();
}

void CommandButton::setCaption(const QString &caption)
{
    setText(caption);
}
