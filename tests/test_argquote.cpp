#include "platform/ArgQuote.h"
#include "platform/SysText.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(ArgQuote, RoundTripsAnyArgumentsAndSplitsWhatAShellWould)
{
    const QList<QStringList> lists{{}, {"'", "''", " ", "a'b'c", fromSys("caf\xe9")},
        {"", "a b", "it's", "\"q\"", "back\\slash", "$HOME", "tab\there", "line\nbreak", "ünï", "*", "--opt=v"}};
    for (const QStringList& args : lists)
        EXPECT_EQ(splitArgs(joinArgs(args)), args) << joinArgs(args).toStdString();
    EXPECT_EQ(joinArgs({"-x", "a b", "mirvak:", "777"}), "-x 'a b' mirvak: 777");
    const std::pair<QString, QStringList> splits[]{
        {"  a \"b c\" d\\ e 'f\"g' \"h\\\"i\" ", {"a", "b c", "d e", "f\"g", "h\"i"}}, {"''", {""}}, {"", {}}};
    for (const auto& [text, args] : splits)
        EXPECT_EQ(splitArgs(text), args) << text.toStdString();
}
