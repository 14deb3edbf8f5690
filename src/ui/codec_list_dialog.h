// "More Codecs...": every registered codec beyond the report's six, each with a check box and
// its parameter values in the grammar of tallox-cli's --codecs ("19", "1,3,19", "1-19:3").
#pragma once
#include <QDialog>
#include <optional>
#include <vector>

#include "engine/codec.h"

class QTreeWidget;

namespace tallox {

class CodecListDialog final : public QDialog {
public:
    // Shows `current`'s codecs checked, with their values.
    CodecListDialog(const CodecRegistry& registry, const std::vector<CodecSetting>& current,
                    QWidget* parent = nullptr);

    // The settings the checked rows stand for, in the list's order; the reason, naming the
    // codec, when a row's values do not parse.
    Result<std::vector<CodecSetting>> Chosen() const;

private:
    const CodecRegistry& registry_;
    QTreeWidget* list_ = nullptr;
};

}  // namespace tallox
