#pragma once

#include <QtWidgets/QPushButton>

// A push button as the handlers see it: a caption to set and a Click event.
class CommandButton : public QPushButton
{
    Q_OBJECT

public:
    explicit CommandButton(QWidget *parent = nullptr);

    QString Caption() const;
    void setCaption(const QString &caption);

Q_SIGNALS:
    void Click();
};
