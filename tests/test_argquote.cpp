#include "platform/ArgQuote.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(ArgQuote, RoundTripsAnyArguments)
{
    const QList<QStringList> cases{
        {},
        {"-x"},
        {"", "a b", "it's", "\"q\"", "back\\slash", "$HOME", "tab\there", "line\nbreak", "ünï", "*", "--opt=v"},
        {"'", "''", " ", "a'b'c"},
    };
    for (const QStringList& args : cases)
        EXPECT_EQ(splitArgs(joinArgs(args)), args) << joinArgs(args).toStdString();
    EXPECT_EQ(joinArgs({"-x", "a b"}), "-x 'a b'");
}

TEST(ArgQuote, SplitsWhatAShellWould)
{
    EXPECT_EQ(splitArgs("  a \"b c\" d\\ e 'f\"g' \"h\\\"i\" "), QStringList({"a", "b c", "d e", "f\"g", "h\"i"}));
    EXPECT_EQ(splitArgs("''"), QStringList({""}));
    EXPECT_EQ(splitArgs(""), QStringList());
}
