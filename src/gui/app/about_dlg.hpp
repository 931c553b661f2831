// The About box: the program's name and version.
#pragma once

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace quarv {

constexpr int kVersionMajor = 3;
constexpr int kVersionMinor = 4;

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    QString versionText() const { return version_.text(); }

private:
    QHBoxLayout layout_;
    QLabel icon_;
    QVBoxLayout texts_;
    QLabel name_;
    QLabel version_;
    QLabel purpose_;
    QPushButton ok_;
};

} // namespace quarv
