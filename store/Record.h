// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>
#include <QStringView>
#include <optional>

// A list record: the executable's file name and, by list_level, its date,
// size, path and SHA-256, joined by "|" in that order; in a list file a
// use count may follow. Fields a level leaves out are empty.
struct Record {
    QString name;
    QString date;     // "yyyy.mm.dd h:mm"
    QString size;     // "512b", "1.5K", "12.25M"
    QString path;
    QString sha256;   // 64 hex digits
    std::optional<double> count;

    // A record as the lists hold it. The fields are told by their places
    // and shapes: after the name a date, then a size, each only when it has
    // its shape, then the path up to a last "sha256:" field of 64 hex
    // digits. A name holds a "|" of its own only when the path ends with it.
    static Record parse(const QString& text);
    // A list file's line: a last field that is a number is its count,
    // anything else belongs to the record.
    static Record parseLine(const QString& line);
    // The record as the lists hold it, and with its count as a file's line.
    QString text() const;
    QString line() const;
    // What follows the name and its "|".
    QString rest() const;

    // The fields after the name that the file gives, each after its "|".
    QString factsText() const;
    // A record of a name, the facts' text and a hash.
    static QString join(const QString& name, const QString& facts, const QString& sha256);

    // A date as yyyymmddhhmm, a size in bytes as it is rounded; -1 for a
    // field of another shape.
    static qint64 minutes(QStringView field);
    static double bytes(QStringView field);
    // A count field's value; nothing for a field that is not a number.
    static std::optional<double> countOf(QStringView field);
};
