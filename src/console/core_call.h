#pragma once
// Questions to the core, answered on the GUI thread: `ask` runs on the
// core's thread, and its result is handed to `answer` on the thread of
// `receiver`, queued behind the core's events that came before it. So a
// window that rebuilds itself from an answer and then applies the events
// queued after it never misses or repeats a change. The receivers are the
// console's windows, which live until the core has stopped.
#include <QMetaObject>
#include <QObject>
#include <utility>

#include "host/core_host.h"

namespace qm::console {

template <typename Answer, typename Result>
void AnswerOnGui(QObject* receiver, Answer answer, Result result) {
    QMetaObject::invokeMethod(
        receiver, [answer = std::move(answer), result = std::move(result)]() mutable { answer(std::move(result)); },
        Qt::QueuedConnection);
}

// `ask` gets the operator interface.
template <typename Ask, typename Answer>
void AskCore(CoreHost& core, QObject* receiver, Ask ask, Answer answer) {
    core.Post([receiver, ask = std::move(ask), answer = std::move(answer)](OperatorApi& api) mutable {
        AnswerOnGui(receiver, std::move(answer), ask(api));
    });
}

// The IRC link's stored values.
template <typename Answer>
void AskLinkValues(CoreHost& core, QObject* receiver, Answer answer) {
    core.LinkValues([receiver, answer = std::move(answer)](const IrcLinkSettings& values) mutable {
        AnswerOnGui(receiver, std::move(answer), values);
    });
}

}  // namespace qm::console
