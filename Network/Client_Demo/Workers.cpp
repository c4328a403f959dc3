#include "Network/Client_Demo/Workers.h"

#include <QListWidget>
#include <QMetaObject>
#include <QPlainTextEdit>

#include "Network/Client/Client.h"
#include "Network/Client_Demo/Controls.h"
#include "Network/Client_Demo/FrontEndState.h"
#include "Network/Client_Demo/TextCodec.h"
#include "Network/Common/CurrentLocation.h"
#include "protocol/TextFormats.h"

void PostChatLines(QStringList lines) {
    QPlainTextEdit *view = Controls.Main.ChatView;
    if (view == nullptr || lines.isEmpty()) {
        return;
    }
    // The view is the context: a call still queued when the windows are destroyed is dropped.
    QMetaObject::invokeMethod(
        view,
        [view, lines = std::move(lines)] {
            // One new last line each, in order; plain text, never read as markup.
            view->appendPlainText(lines.join(QLatin1Char('\n')));
        },
        Qt::QueuedConnection);
}

void PostOnlineNames(QStringList names) {
    QListWidget *list = Controls.Main.OnlineList;
    if (list == nullptr) {
        return;
    }
    QMetaObject::invokeMethod(
        list,
        [list, names = std::move(names)] {
            // The selected name stays selected when it is still online, so that a double-click
            // that falls across a refresh still opens that user's profile.
            const QList<QListWidgetItem *> selected = list->selectedItems();
            const QString keep = selected.isEmpty() ? QString() : selected[0]->text();
            list->setUpdatesEnabled(false);
            list->clear();
            list->addItems(names);
            if (!keep.isNull()) {
                if (const qsizetype row = names.indexOf(keep); row >= 0) {
                    list->setCurrentRow(static_cast<int>(row));
                }
            }
            list->setUpdatesEnabled(true);
        },
        Qt::QueuedConnection);
}

void FetchMessages(int32_t) {
    RecordLocation();
    if (FrontEndState.LoggedIn == 0) {
        return;
    }
    if (User_ReceiveMessages() == 0) {
        return;
    }
    QStringList lines;
    while (TakeNextMessage() != 0) {
        lines.append(FromWire(GetMessageSender()) + QStringLiteral(": ") +
                     FromWire(GetMessageText()));
    }
    PostChatLines(std::move(lines));
}

void RefreshOnlineList(int32_t) {
    RecordLocation();
    if (FrontEndState.LoggedIn == 0) {
        return;
    }
    const std::string text = User_GetOnlineUserList();
    if (text.empty()) {
        FrontEndState.LoggedIn = 0;  // the login has ended (kick, shutdown, lost connection)
        return;
    }
    QStringList names;
    for (const std::string &name : SplitOnlineList(text)) {
        names.append(FromWire(name));
    }
    PostOnlineNames(std::move(names));
}
