#include "Network/Client_Demo/MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <vector>

void ShowModalMessage(const QString &title, const QString &text) {
    QWidget *owner = QApplication::activeWindow();

    std::vector<QPointer<QWidget>> disabled;
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window != owner && window->isWindow() && window->isVisible() && window->isEnabled()) {
            window->setEnabled(false);
            disabled.emplace_back(window);
        }
    }

    QMessageBox box(QMessageBox::NoIcon, title, QString(), QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setObjectName(QStringLiteral("MessageBox"));
    box.exec();

    for (const QPointer<QWidget> &window : disabled) {
        if (window) {
            window->setEnabled(true);
        }
    }
}
