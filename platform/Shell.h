#pragma once
#include <QString>
#include <QStringList>

namespace platform {

class Shell {
public:
    virtual ~Shell() = default;
    // True when open() can hand `target` over whole: the system limits the
    // length of one argument of a new program.
    virtual bool canOpen(const QString& target) = 0;
    // Opens a URL, a mail link or a file with its default action; the result
    // is not examined.
    virtual void open(const QString& target) = 0;
    // Starts a program in a new process that does not depend on this one.
    virtual void startDetached(const QString& program, const QStringList& args) = 0;
};

} // namespace platform
