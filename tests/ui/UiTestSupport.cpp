#include "UiTestSupport.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QTest>
#include <QWheelEvent>
#include <fstream>

#include "ui/FullSizeWindow.h"
#include "ui/MainWindow.h"

namespace pelorin::uitest {

namespace fs = std::filesystem;

std::vector<std::uint8_t> Fits16(int w, int h, const std::vector<std::int16_t>& values,
                                 const std::vector<std::string>& extraCards) {
    return test::FitsInt16(
        w, h, 1, [&](int, int i) { return values.at(static_cast<std::size_t>(i)); }, extraCards);
}

std::vector<std::uint8_t> Fits16Cube(int w, int h, int planes) {
    return test::FitsInt16(w, h, planes, [](int p, int) { return 100 * p; });
}

namespace {

std::string Unit(int i) {
    // i / 255 with six decimals, written without the C library's number formatting.
    const long long micro = (static_cast<long long>(i) * 1000000 + 127) / 255;
    std::string frac = std::to_string(micro % 1000000);
    frac.insert(0, 6 - frac.size(), '0');
    return std::to_string(micro / 1000000) + "." + frac;
}

void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary);
    f << text;
}

}  // namespace

void WritePalettes(const fs::path& folder, const std::vector<std::string>& luts,
                   const std::vector<std::string>& itts) {
    fs::create_directories(folder);
    std::string grey, red, identity;
    for (int i = 1; i <= 255; ++i) {
        grey += Unit(i) + " " + Unit(i) + " " + Unit(i) + "\n";
        red += Unit(i) + " 0.000000 0.000000\n";
        identity += Unit(i) + "\n";
    }
    WriteText(folder / "ramp.lut", grey);
    WriteText(folder / "4_ramp.itt", identity);
    for (const auto& name : luts)
        WriteText(folder / (name + ".lut"), red);
    for (const auto& name : itts)
        WriteText(folder / (name + ".itt"), identity);
}

Workspace::Workspace() : previous_(fs::current_path()) {
    WritePalettes(root() / "palettes");
    fs::create_directories(images());
    fs::current_path(root());
}

Workspace::~Workspace() {
    std::error_code ec;
    fs::current_path(previous_, ec);
}

void Workspace::write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    test::WriteFile(image(name), bytes);
}

Harness::Harness() {
    form_ = std::make_unique<ui::MainWindow>();
    big_ = std::make_unique<ui::FullSizeWindow>();
    form_->setFullSizeViewer(big_.get());
    form_->setErrorReporter(
        [this](QWidget*, const QString&, const QString& message) { errors << message; });
    big_->setModalRunner([this](QDialog& d) {
        ++modalShowings;
        d.show();
        d.done(QDialog::Rejected);
        return 0;
    });
    form_->show();
}

Harness::~Harness() = default;

QListWidget* Harness::list() const {
    return widget<QListWidget>("fileList");
}

int Harness::rowOf(const QString& name) const {
    for (int i = 0; i < list()->count(); ++i)
        if (list()->item(i)->text() == name) return i;
    return -1;
}

void Harness::click(const QString& name, Qt::KeyboardModifiers modifiers) {
    const int row = rowOf(name);
    ASSERT_GE(row, 0) << name.toStdString() << " is not listed";
    const QRect r = list()->visualItemRect(list()->item(row));
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, modifiers, r.center());
}

void Harness::rightClick(const QString& name) {
    const int row = rowOf(name);
    ASSERT_GE(row, 0) << name.toStdString() << " is not listed";
    const QRect r = list()->visualItemRect(list()->item(row));
    QTest::mousePress(list()->viewport(), Qt::RightButton, {}, r.center());
    QTest::mouseRelease(list()->viewport(), Qt::RightButton, {}, r.center());
}

void Harness::clickButton(const char* name) {
    auto* b = widget<QAbstractButton>(name);
    ASSERT_NE(b, nullptr) << name;
    QTest::mouseClick(b, Qt::LeftButton);
}

void Harness::typeAndEnter(const char* editName, const QString& text) {
    auto* e = widget<QLineEdit>(editName);
    ASSERT_NE(e, nullptr) << editName;
    e->setFocus();
    e->selectAll();
    QTest::keyClicks(e, text);
    QTest::keyClick(e, Qt::Key_Return);
}

QString Harness::text(const char* name) const {
    QWidget* w = widget(name);
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    ADD_FAILURE() << "no text widget named " << name;
    return {};
}

bool Harness::enabled(const char* name) const {
    QWidget* w = widget(name);
    if (!w) {
        ADD_FAILURE() << "no widget named " << name;
        return false;
    }
    return w->isEnabled();
}

void Harness::moveOver(QPoint at, Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
    QWidget* preview = widget("preview");
    QMouseEvent move(QEvent::MouseMove, QPointF(at), preview->mapToGlobal(QPointF(at)),
                     Qt::NoButton, buttons, modifiers);
    QApplication::sendEvent(preview, &move);
}

void Harness::pressOn(QPoint at, Qt::MouseButton button) {
    QTest::mousePress(widget("preview"), button, {}, at);
    QTest::mouseRelease(widget("preview"), button, {}, at);
}

void Harness::drag(QPoint from, QPoint to) {
    dragWith(Qt::LeftButton, from, to);
}

void Harness::dragWith(Qt::MouseButton button, QPoint from, QPoint to, QWidget* over) {
    QWidget* target = over ? over : widget("preview");
    QTest::mousePress(target, button, {}, from);
    const int steps = 4;
    for (int i = 1; i <= steps; ++i) {
        const QPoint at = from + (to - from) * i / steps;
        QMouseEvent move(QEvent::MouseMove, QPointF(at), target->mapToGlobal(QPointF(at)),
                         Qt::NoButton, button, Qt::NoModifier);
        QApplication::sendEvent(target, &move);
    }
    QTest::mouseRelease(target, button, {}, to);
}

void Harness::wheel(QPoint at, int steps, QWidget* over) {
    QWidget* target = over ? over : widget("preview");
    QWheelEvent event(QPointF(at), target->mapToGlobal(QPointF(at)), QPoint(),
                      QPoint(0, 120 * steps), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                      false);
    QApplication::sendEvent(target, &event);
}

}  // namespace pelorin::uitest
