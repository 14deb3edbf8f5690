#include "ui/user_prompts.h"

#include <QFileDialog>

#include "ui/codec_list_dialog.h"

namespace tallox {

const char kMessageCaption[] = "Tallox";

std::optional<QString> UserPrompts::GetFolder(QWidget* parent) {
    const QString path = QFileDialog::getExistingDirectory(parent);
    if (path.isEmpty()) {
        return std::nullopt;
    }
    return path;
}

namespace {

class StandardUserPrompts final : public UserPrompts {
public:
    std::optional<QString> GetOpenFileName(QWidget* parent, const QString& filter) override {
        const QString path = QFileDialog::getOpenFileName(parent, QString(), QString(), filter);
        if (path.isEmpty()) {
            return std::nullopt;
        }
        return path;
    }

    std::optional<QString> GetSaveFileName(QWidget* parent, const QString& filter) override {
        const QString path = QFileDialog::getSaveFileName(parent, QString(), QString(), filter);
        if (path.isEmpty()) {
            return std::nullopt;
        }
        return path;
    }

    std::optional<std::vector<CodecSetting>> ChooseCodecs(
        QWidget* parent, const CodecRegistry& registry,
        const std::vector<CodecSetting>& current) override {
        CodecListDialog dialog(registry, current, parent);
        if (dialog.exec() != QDialog::Accepted) {
            return std::nullopt;
        }
        return *dialog.Chosen();
    }

    void ShowMessageBox(QWidget* parent, const QString& text, QMessageBox::Icon icon) override {
        QMessageBox box(icon, QString::fromLatin1(kMessageCaption), text, QMessageBox::Ok, parent);
        box.exec();
    }
};

}  // namespace

UserPrompts& StandardPrompts() {
    static StandardUserPrompts prompts;
    return prompts;
}

}  // namespace tallox
