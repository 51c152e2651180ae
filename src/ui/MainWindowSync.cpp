// Between the viewer's control model and the widgets: what the user typed or picked is read
// into the model before an event, and the model is shown in the widgets after it.
#include "ui/MainWindow.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileIconProvider>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <filesystem>
#include <system_error>
#include <utility>

#include "base/Errors.h"
#include "ui/BitmapImage.h"
#include "ui/FullSizeWindow.h"
#include "ui/MainWindowSupport.h"
#include "ui/Widgets.h"

namespace pelorin::ui {

using namespace detail;

namespace {

void SetTextIfChanged(QLineEdit* edit, const std::string& text) {
    const QString t = FromModel(text);
    if (edit->text() != t) {
        const QSignalBlocker block(edit);
        edit->setText(t);
    }
}

void SetTextIfChanged(QLabel* label, const std::string& text) {
    const QString t = FromModel(text);
    if (label->text() != t) {
        label->setText(t);
        label->setToolTip(t.trimmed().isEmpty() ? QString() : t);
    }
}

void SyncCombo(QComboBox* combo, const ComboModel& model) {
    const QSignalBlocker block(combo);
    QStringList items;
    for (const auto& item : model.items)
        items << FromModel(item);
    QStringList current;
    for (int i = 0; i < combo->count(); ++i)
        current << combo->itemText(i);
    if (items != current) {
        combo->clear();
        combo->addItems(items);
    }
    if (combo->currentIndex() != model.index) combo->setCurrentIndex(model.index);
    if (combo->isEditable() && model.index < 0 && combo->currentText() != FromModel(model.text))
        combo->setEditText(FromModel(model.text));
}

void SyncScrollBar(QScrollBar* bar, const ScrollBarModel& model) {
    const QSignalBlocker block(bar);
    bar->setRange(model.min(), std::max(model.min(), model.max()));
    bar->setSingleStep(model.smallChange);
    bar->setPageStep(model.largeChange);
    bar->setValue(model.position());
}

}  // namespace

void MainWindow::pullModel() {
    MainWindowModel& c = viewer_->controls;
    c.lowText = ToModel(lowEdit->text());
    c.highText = ToModel(highEdit->text());
    c.filterThresholdText = ToModel(filterThresholdEdit->text());
    c.destination = ToModel(destinationEdit->text());
    c.force24Bit = force24BitBox->isChecked();
    if (pictureColoursGroup->checkedId() >= 0)
        c.pictureColours = PictureColours(pictureColoursGroup->checkedId());
    // The filter list is editable: a name typed there, even one that reads like an item,
    // is not a choice from the list until the list itself picks it.
    {
        const int index = filterChooser->currentIndex();
        const QString text = filterChooser->currentText();
        c.filterList.index = index >= 0 && filterChooser->itemText(index) == text ? index : -1;
        c.filterList.text = ToModel(text);
    }
    // The file list: which entries are selected and which has the focus.
    FileListModel& list = c.fileList;
    if (fileList->count() == list.count()) {
        for (int i = 0; i < list.count(); ++i)
            list.entries[static_cast<std::size_t>(i)].selected = fileList->item(i)->isSelected();
        list.focused = fileList->currentRow();
        // This is what the list shows: an event that leaves it alone changes nothing there.
        shownList_ = list;
    }
}

void MainWindow::syncFromModel() {
    const MainWindowModel& c = viewer_->controls;
    SetTextIfChanged(lowEdit, c.lowText);
    SetTextIfChanged(highEdit, c.highText);
    // The plane field is written only when the model's plane changed: text being typed
    // there is not the plane until it is committed.
    if (c.planeText != shownPlaneText_) {
        SetTextIfChanged(planeEdit, c.planeText);
        shownPlaneText_ = c.planeText;
    }
    SetTextIfChanged(filterThresholdEdit, c.filterThresholdText);
    SetTextIfChanged(destinationEdit, c.destination);
    SetTextIfChanged(readoutLabel, c.readout);
    SetTextIfChanged(statusLabel, c.status);
    SetTextIfChanged(planeCountLabel, c.planeCount);
    SyncScrollBar(lowBarWidget, c.lowBar);
    SyncScrollBar(highBarWidget, c.highBar);
    {
        const QSignalBlocker b1(pictureColoursGroup);
        const QSignalBlocker b2(thresholdModeGroup);
        if (auto* r = pictureColoursGroup->button(static_cast<int>(c.pictureColours)))
            r->setChecked(true);
        if (auto* r = thresholdModeGroup->button(c.thresholdMode)) r->setChecked(true);
    }
    SyncCombo(lutChooser, c.lutList);
    SyncCombo(ittChooser, c.ittList);
    SyncCombo(filterChooser, c.filterList);
    {
        const QSignalBlocker b(force24BitBox);
        force24BitBox->setChecked(c.force24Bit);
        const QSignalBlocker f(formatChooser);
        formatChooser->setCurrentIndex(static_cast<int>(c.outputFormat));
        saveBmpButton->setText(QString::fromStdString(SaveButtonText(c.outputFormat)));
        force24BitBox->setText(QString::fromStdString(Force24BitText(c.outputFormat)));
    }
    SetTextIfChanged(barLowCaption, c.colourBarLow);
    SetTextIfChanged(barHighCaption, c.colourBarHigh);
    // Nothing to show at full size before an image is shown.
    fullSizeButton->setEnabled(viewer_->image.loaded);
    flipHorizontalButton->setChecked(c.flipHorizontalShown);
    flipVerticalButton->setChecked(c.flipVerticalShown);

    const bool on = c.displayControlsEnabled;
    for (QWidget* w : std::initializer_list<QWidget*>{
             lowEdit, highEdit, lowBarWidget, highBarWidget, zoomWholeButton, zoomPreviousButton,
             lutChooser, ittChooser, flipVerticalButton, flipHorizontalButton, orientButton,
             applyFilterButton, restoreButton, planeEdit, planeSpinner->upButton(),
             planeSpinner->downButton()})
        w->setEnabled(on);
    thresholdModeBox->setEnabled(c.thresholdModeEnabled);

    syncFileList();
    syncPictures();
}

// The file list and the file field change only when the event changed the list's model:
// a mouse move over the preview or a tick of the redraw timer must neither scroll the list
// back to the file on display nor replace a mask being typed in the field.
void MainWindow::syncFileList() {
    const FileListModel& list = viewer_->controls.fileList;
    const QString mask = currentMask();
    const bool fieldStale = list.focused != fieldFocus_ || mask != shownMask_;
    if (list == shownList_ && !fieldStale) return;
    const bool focusMoved = list.focused != shownList_.focused || list.folder != shownList_.folder;
    const QSignalBlocker block(fileList);
    const QSignalBlocker blockSelection(fileList->selectionModel());
    std::vector<std::string> names;
    names.reserve(list.entries.size());
    for (const auto& e : list.entries)
        names.push_back(e.name);
    const bool entriesChanged = names != shownEntries_;
    if (entriesChanged) {
        fileList->clear();
        const QIcon icon = QFileIconProvider().icon(QFileIconProvider::File);
        for (const auto& name : names)
            fileList->addItem(new QListWidgetItem(icon, FromPath(name)));
        shownEntries_ = std::move(names);
    }
    for (int i = 0; i < list.count(); ++i) {
        QListWidgetItem* item = fileList->item(i);
        const bool selected = list.entries[static_cast<std::size_t>(i)].selected;
        if (item->isSelected() != selected) item->setSelected(selected);
    }
    const int focused = list.focused >= 0 && list.focused < list.count() ? list.focused : -1;
    if (fileList->currentRow() != focused) {
        if (focused >= 0) {
            fileList->setCurrentRow(focused, QItemSelectionModel::NoUpdate);
        } else {
            fileList->setCurrentItem(nullptr, QItemSelectionModel::NoUpdate);
        }
    }
    if ((focusMoved || entriesChanged) && focused >= 0)
        fileList->scrollToItem(fileList->item(focused));
    else if (entriesChanged || list.folder != shownList_.folder)
        fileList->scrollToTop();  // another folder: from its first entry
    if (fieldStale || entriesChanged) {
        // The field under the tree names the file on display, or the mask when there is
        // none.
        const QString fileFieldText =
            focused >= 0 ? FromPath(list.entries[static_cast<std::size_t>(focused)].name) : mask;
        if (fileField->text() != fileFieldText) {
            fileField->setText(fileFieldText);
            fileField->setCursorPosition(0);  // a long mask reads from its start
        }
        fieldFocus_ = list.focused;
    }
    shownList_ = list;
    shownMask_ = mask;
    fileList->viewport()->update();
}

void MainWindow::syncPictures() {
    const Viewer& v = *viewer_;
    const int boxWidth = std::max(1, v.controls.previewBoxWidth);
    const int width = std::clamp(v.controls.previewWidth, 1, boxWidth);
    const int height =
        std::clamp(v.controls.previewHeight, 1, std::max(1, v.controls.previewBoxHeight));
    if (preview->size() != QSize(width, height)) preview->resize(width, height);
    preview->setPicture(StretchNearest(v.displayBitmap, width, height, boxWidth));
    preview->setBand(v.band);
    colourBar->setPicture(
        StretchNearest(v.colourBarBitmap, kColourBarWidth, kColourBarHeight, kColourBarWidth));
}

QString MainWindow::currentMask() const {
    const QString mask = maskChooser->currentData().toString();
    return mask.isEmpty() ? FromModel(FileMasks().front().masks) : mask;
}

}  // namespace pelorin::ui
