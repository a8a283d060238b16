#pragma once
// ScriptError: the one error the web client's document model raises.
//
// A page script on a real browser fails with an error when it asks for a form or
// an element the page does not have; our callers (the main window) do the same
// lookups and get this exception instead. what() says in plain words which thing
// was missing, e.g. `The page has no form "dd".`, so it can be shown to the user
// as it stands.

#include <QString>

#include <stdexcept>

namespace tw::web {

class ScriptError : public std::runtime_error {
public:
    explicit ScriptError(const QString& message)
        : std::runtime_error(message.toStdString())
        , m_message(message)
    {
    }

    // The message as text, without a round trip through std::string.
    QString message() const { return m_message; }

private:
    QString m_message;
};

} // namespace tw::web
