// The keywords searched before, offered by the keyword box: typing completes from them, Down opens
// the whole list, and the box's context menu has "清除搜索记录" to forget them. Kept in the
// settings file (site_choice.h), newest first, without repeats. UI thread only.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QLineEdit;
class QMenu;

namespace mf {

class EditBox;

inline constexpr int kKeywordHistorySize = 20;
// A longer keyword is searched but not kept: the settings file is read at every start.
inline constexpr int kLongestKeptKeyword = 256;

// `history` with `keyword` first and no other copy of it, at most kKeywordHistorySize long; an
// empty or blank keyword, or one longer than kLongestKeptKeyword, leaves it as it is.
QStringList WithKeyword(QStringList history, const QString& keyword);

// The keywords kept in the settings file, newest first (repeats and blanks, which only a hand
// edit could leave there, are dropped).
QStringList KeywordHistory();

// Keeps the keyword box's current text first in the history and offers the new list; an error
// line on stderr when the settings file cannot be written.
void RememberSearchedKeyword(EditBox& box);

// The keyword box's context menu, owned by the caller: the editor's usual entries and
// "清除搜索记录", disabled while there is nothing to forget.
QMenu* CreateKeywordBoxMenu(QLineEdit& line);

// Gives the keyword box its list of past keywords and the context menu entry that clears it.
void AddKeywordHistory(EditBox& box);

}  // namespace mf
