// Shared pieces of the desktop program's GUI tests: a private home and
// profile for every test program, a window whose platform dialogs are
// replaced by scripted answers, and small file helpers.
#pragma once

#include "ConvertDlg.h"
#include "InputListModel.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <memory>
#include <optional>

// Points HOME, XDG_CONFIG_HOME and XDG_RUNTIME_DIR into a fresh temporary
// folder, so no test ever touches the real profile. Call before any window.
class TestHome {
public:
    TestHome();
    ~TestHome();
    QByteArray home() const { return m_dir.path().toUtf8(); }
    QByteArray profile() const;
    QByteArray ProfileText() const;
    void WriteProfile(const QByteArray& text) const;
    // A fresh folder below the home folder for one test's files.
    QByteArray NewFolder(const QByteArray& name) const;

private:
    QTemporaryDir m_dir;
};

void WriteFile(const QByteArray& path, const QByteArray& content);

// Replaces the platform dialogs and the desktop opener with scripted answers.
class TestDlg : public CConvertDlg {
public:
    explicit TestDlg(const char* renderer = VARNEL_TEST_RENDERER,
                     const varnel::ConverterApi* api = nullptr)
        : CConvertDlg(renderer, nullptr, api) {}

    bool realDialogs = false; // use the platform dialogs after all
    bool realOpener = false;  // also hand opened paths to the desktop
    QList<QByteArray> filesToChoose;
    QByteArray folderToChoose;
    QList<QByteArray> chooseFilesStarts;
    QStringList folderCaptions;
    QList<QByteArray> opened;
    int rendererFailedShown = 0;
    bool stopAndQuitAnswer = false; // the answer to "Stop it and quit?"
    int stopAndQuitAsked = 0;
    QStringList messages;
    QByteArray programFolder; // where the window looks for its help page; empty: its own

    QByteArray Cell(int row, int column) const { return ListModel()->Text(row, column).toUtf8(); }
    template <class T> T* Find(const char* name) const {
        T* w = findChild<T*>(QLatin1String(name));
        if (!w) qFatal("no widget %s", name);
        return w;
    }
    QString LabelText(const char* name) const;
    QList<int> SelectedRows() const;

protected:
    QList<QByteArray> ChooseFiles(const QByteArray& startAt) override {
        chooseFilesStarts.append(startAt);
        return realDialogs ? CConvertDlg::ChooseFiles(startAt) : filesToChoose;
    }
    QByteArray ChooseFolder(const QString& caption, const QByteArray&) override {
        folderCaptions.append(caption);
        return folderToChoose;
    }
    void OpenWithDesktop(const QByteArray& path) override {
        opened.append(path);
        if (realOpener) CConvertDlg::OpenWithDesktop(path);
    }
    using CConvertDlg::ChooseFolder;
    void ShowRendererFailed() override { ++rendererFailedShown; }
    bool AskStopAndQuit() override {
        ++stopAndQuitAsked;
        return stopAndQuitAnswer;
    }
    void ShowMessage(const QString& text) override { messages.append(text); }
    QByteArray ProgramFolder() const override {
        return programFolder.isEmpty() ? CConvertDlg::ProgramFolder() : programFolder;
    }
};

// Drags mime over the window and drops it, as the desktop would.
void SendDrop(QWidget* window, QMimeData* mime);

// Calls check with the next modal dialog once it is up (it must close it).
void WhenModalShows(std::function<void(QWidget*)> check);

// The value of a key in the profile text; nullopt when the key is absent.
std::optional<QByteArray> ProfileValue(const QByteArray& profileText, const QByteArray& key);
