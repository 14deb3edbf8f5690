// The questions the dialog puts to the user, behind one interface so that tests can answer them
// without a window manager: the file dialogs, the codec list and the message boxes.
#pragma once
#include <QMessageBox>
#include <QString>
#include <optional>
#include <vector>

#include "engine/codec.h"

class QWidget;

namespace tallox {

// The caption of every message box of the program.
extern const char kMessageCaption[];

class UserPrompts {
public:
    virtual ~UserPrompts() = default;
    // The full path of the chosen file, or nothing when the user did not confirm the dialog.
    virtual std::optional<QString> GetOpenFileName(QWidget* parent, const QString& filter) = 0;
    // The full path of the chosen folder, or nothing when the user did not confirm the dialog.
    // QFileDialog's, unless a stand-in answers.
    virtual std::optional<QString> GetFolder(QWidget* parent);
    // The path to save to, or nothing when the user did not confirm the dialog.
    virtual std::optional<QString> GetSaveFileName(QWidget* parent, const QString& filter) = 0;
    // The codecs beyond the report's six, chosen from `registry` with their values starting
    // from `current`; nothing when the user cancelled.
    virtual std::optional<std::vector<CodecSetting>> ChooseCodecs(
        QWidget* parent, const CodecRegistry& registry,
        const std::vector<CodecSetting>& current) = 0;
    // A modal box with one OK button.
    virtual void ShowMessageBox(QWidget* parent, const QString& text, QMessageBox::Icon icon) = 0;
};

// QFileDialog and QMessageBox.
UserPrompts& StandardPrompts();

}  // namespace tallox
