#include "ui/codec_list_dialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QMessageBox>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tallox {
namespace {

enum Column { kName, kValues, kKind, kLibrary };

// The values of `name`'s settings in the grammar: "1,19", or the first parameter's default.
QString ValuesText(const CodecEntry& entry, const std::vector<CodecSetting>& current) {
    QStringList values;
    for (const CodecSetting& setting : current) {
        if (setting.name == entry.info.name && !entry.info.parameters.empty()) {
            values << QString::fromStdString(ParamsText(entry, ValuesOf(entry, setting)));
        }
    }
    if (values.isEmpty() && !entry.info.parameters.empty()) {
        values << QString::fromStdString(FormatValue(entry.info.parameters.front().fallback));
    }
    return values.join(QLatin1Char(','));
}

}  // namespace

CodecListDialog::CodecListDialog(const CodecRegistry& registry,
                                 const std::vector<CodecSetting>& current, QWidget* parent)
    : QDialog(parent), registry_(registry), list_(new QTreeWidget(this)) {
    setWindowTitle(QStringLiteral("More Codecs"));
    list_->setObjectName(QStringLiteral("codecList"));
    list_->setHeaderLabels({QStringLiteral("Codec"), QStringLiteral("Values"),
                            QStringLiteral("Kind"), QStringLiteral("Library")});
    list_->setRootIsDecorated(false);
    for (const CodecEntry& entry : registry.Entries()) {
        const CodecInfo& info = entry.info;
        if (info.reportRow || info.yardstick) {
            continue;  // the six have their boxes; memcpy opens every saved report
        }
        auto* item = new QTreeWidgetItem(list_);
        item->setText(kName, QString::fromStdString(info.name));
        item->setText(kValues, ValuesText(entry, current));
        QString kind = QString::fromLatin1(CodecInputName(info.input)) + QLatin1Char(' ') +
                       QLatin1String(info.lossy ? "lossy" : "lossless");
        if (!info.parameters.empty()) {
            const CodecParameter& first = info.parameters.front();
            kind += QStringLiteral(", %1 %2 to %3")
                        .arg(QString::fromStdString(first.name),
                             QString::fromStdString(FormatValue(first.minimum)),
                             QString::fromStdString(FormatValue(first.maximum)));
        }
        item->setText(kKind, kind);
        item->setText(kLibrary, QString::fromStdString(info.library));
        item->setToolTip(kName, QString::fromStdString(info.description));
        const bool chosen = std::any_of(current.begin(), current.end(),
                                        [&](const CodecSetting& s) { return s.name == info.name; });
        item->setCheckState(kName, chosen ? Qt::Checked : Qt::Unchecked);
        // Values are typed in place; codecs without parameters have none to type.
        item->setFlags(item->flags() |
                       (info.parameters.empty() ? Qt::NoItemFlags : Qt::ItemIsEditable));
    }
    list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    list_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                           QAbstractItemView::SelectedClicked);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        const Result<std::vector<CodecSetting>> chosen = Chosen();
        if (!chosen) {
            QMessageBox::warning(this, windowTitle(),
                                 QString::fromStdString(chosen.error().message));
            return;
        }
        accept();
    });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    layout->addWidget(buttons);
    resize(640, 420);
}

Result<std::vector<CodecSetting>> CodecListDialog::Chosen() const {
    std::vector<CodecSetting> chosen;
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = list_->topLevelItem(i);
        if (item->checkState(kName) != Qt::Checked) {
            continue;
        }
        std::string text = item->text(kName).toStdString();
        const std::string values = item->text(kValues).trimmed().toStdString();
        if (!values.empty()) {
            text += ":" + values;
        }
        Result<std::vector<CodecSetting>> settings = ParseCodecList(text, registry_);
        if (!settings) {
            return settings.error();
        }
        chosen.insert(chosen.end(), settings->begin(), settings->end());
    }
    return chosen;
}

}  // namespace tallox
