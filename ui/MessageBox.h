// Message boxes of the program. Tests replace the shower to see the texts
// (and the kind of each box) without a modal window.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QMessageBox;
class QWidget;

namespace MessageBox {

// What a box says by its icon: a plain notice, a warning that something was
// left out, an error that changed nothing, a question.
enum class TKind { Plain, Warning, Error, Question };

// Shows a modal message box with the text and an OK button.
void Show(const QString& text, QWidget* parent = nullptr, TKind kind = TKind::Plain);
// Shows a box that also offers "Открыть папку", which opens folder in the
// desktop's file manager (the box stays up).
void ShowWithFolder(const QString& text, const QString& folder, QWidget* parent = nullptr);
// Opens folder in the desktop's file manager (QDesktopServices); false when
// the desktop refused.
bool OpenFolder(const QString& folder);
// When set, receives the folder instead of the desktop opening it (tests).
extern std::function<bool(const QString&)> OpenFolderHook;
// When set, receives the box of ShowWithFolder before it is shown, with its
// button "Открыть папку"; the box is then not run (tests).
extern std::function<void(::QMessageBox&)> FolderBoxHook;

// Asks a question with "Да" and "Нет" ("Нет" the default); true for "Да".
bool Ask(const QString& question, QWidget* parent = nullptr);

// Asks a question with the buttons given, in this order, the one at cancel
// also taking Esc and closing the box; the index of the button chosen. -1
// when no one was asked: boxes are collected (Hook or KindHook set without
// ChooseHook; the question then reaches neither) or shown no more (nothing
// is written then either); the caller then goes on as it did before it asked.
int Choose(const QString& question, const QStringList& buttons, int cancel, QWidget* parent = nullptr);

// When set, receives the text instead of a modal box being shown (a question
// too, which is then answered "Нет" unless AskHook answers it).
extern std::function<void(const QString&)> Hook;
// When set, receives each box's kind and text instead of a modal box (as
// well as Hook, when both are set).
extern std::function<void(TKind, const QString&)> KindHook;
// When set, answers questions instead of a modal box.
extern std::function<bool(const QString&)> AskHook;
// When set, answers Choose with a button's index instead of a modal box.
extern std::function<int(const QString& question, const QStringList& buttons)> ChooseHook;

// From now on no box is shown, since no one is there to answer one (the
// program was stopped by a signal): Show writes the text to standard error,
// each line "ostrelgsm4: ..." with its control characters escaped, hands it
// to log (when given) and returns at once; a question is answered "Нет". For
// the rest of the run.
void ShowNoMore(std::function<void(const QString&)> log);

}  // namespace MessageBox
