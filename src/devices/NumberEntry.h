#pragma once
// The one rule for numbers typed by the user: the text must be non-empty and
// a number in the user's locale (sign, decimal separator and exponent
// allowed, blanks around it ignored); its value, as a real number, must lie
// within [low, high]; the accepted value becomes the nearest integer, halves
// to even.

#include <QString>
#include <QStringList>
#include <optional>
#include <span>

namespace qim {

struct Entry {
    double value = 0; // as typed
    int rounded = 0;  // nearest integer, halves to even
};

// nullopt when the text is empty, not a number, or outside [low, high].
std::optional<Entry> parseEntry(const QString& text, double low, double high);

// The variant with an exclusive lower bound (low < value <= high).
std::optional<Entry> parseEntryAbove(const QString& text, double low, double high);

// What the user is told when an entry is refused, e.g. "Time between polls
// must be a number from 0 to 10000": one wording for every window and qimctl.
QString rangeMessage(const QString& what, int low, int high);

// A number a module takes from the user: its name in the message and its
// bounds. The windows read it by the rule above; qimctl reads the same bounds
// with its own syntax and gives the same message.
struct EntryRule {
    QString what;
    int low = 0;
    int high = 0;
    QString message() const { return rangeMessage(what, low, high); }
    // The accepted value, rounded; nullopt for a refused text.
    std::optional<int> parse(const QString& text) const;
};

// The texts of a list the user picks from, in the order of their values.
QStringList itemTexts(std::span<const char* const> items);

} // namespace qim
