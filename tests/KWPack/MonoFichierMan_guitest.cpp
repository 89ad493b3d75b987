// The single-file manager on real widgets: the real open dialog and message
// boxes answered as a user would, the real clipboard, drops and mouse events
// sent to a real panel, the recent list through the registry store of a
// throw-away hive. The file browser is asked on no bus at all here (the bus
// path has its own test with the shell), so its fallback reaches a URL
// handler of the test and never a real file browser.
#include "KWPack/uMonoFichierMan.h"
#include "KWPack/uPreferences.h"
#include "platform/shell/FileLists.h"

#include "common/TestSupport.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>
#include <ostream>

// Readable failures.
inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

namespace {

// Before anything reaches the session bus: there is none.
const bool kNoSessionBus = [] {
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vidstill-test-bus");
    return true;
}();

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "Open"); }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QList<QUrl> opened;
public slots:
    void Open(const QUrl &url) { opened.append(url); }
};

class MonoFichierMan : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(kNoSessionBus);
        // A dialog nobody answers fails the test instead of hanging it.
        auto *watchdog = new QTimer(&pending);
        QObject::connect(watchdog, &QTimer::timeout, watchdog, [this] {
            QWidget *w = QApplication::activeModalWidget();
            if (w && w == lastModal) {
                ADD_FAILURE() << "unanswered dialog: " << w->windowTitle().toStdString();
                if (auto *d = qobject_cast<QDialog *>(w))
                    d->reject();
            }
            lastModal = w;
        });
        watchdog->start(3000);
        fm = TKWActionComponent::New<TMonoFichierMan>(&form);
        panel = new QWidget(&form);
        fm->SetFileLabel(&label);
        fm->SetFileEdit(&edit);
        fm->SetDragControl(panel);
        fm->NoFileName = QStringLiteral("No file");
        fm->NewFileName = QStringLiteral("Macro");
        fm->OnTestExtension = [this](const QString &ext, const QString &) {
            tested << ext;
            return ext == ".avi" || ext == ".txt";
        };
        fm->OnOpenFile = [this](const QString &p) { return log << "open " + p, openResult; };
        fm->OnCloseFile = [this](const QString &p) { log << "close " + p; };
        fm->OnSaveFile = [this](const QString &p) { return log << "save " + p, true; };
        fm->OnNewFile = [this] { log << "new"; };
        fm->OnErrorOpenFile = [this](const QString &p) { return log << "error " + p, true; };
    }

    QString Clip(const QString &name, const QByteArray &data = "clip")
    {
        const QString path = dir.filePath(name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(data);
        return path;
    }

    // Runs `act` on the next modal dialog when it shows, as a user would.
    void OnNextModal(std::function<void(QWidget *)> act)
    {
        auto *timer = new QTimer(&pending);
        timer->setInterval(5);
        QObject::connect(timer, &QTimer::timeout, timer, [timer, act] {
            QWidget *w = QApplication::activeModalWidget();
            if (!w || !w->isVisible())
                return;
            timer->stop();
            timer->deleteLater();
            act(w);
        });
        timer->start();
    }

    // Answers the next message box, keeping its text.
    void AnswerBox(QMessageBox::StandardButton answer, QString *text = nullptr)
    {
        OnNextModal([answer, text](QWidget *w) {
            auto *box = qobject_cast<QMessageBox *>(w);
            ASSERT_NE(box, nullptr);
            if (text)
                *text = box->text();
            box->button(answer)->click();
        });
    }

    // Chooses `path` in the next file dialog (cancels when empty).
    void ChooseFile(const QString &path, QString *title = nullptr, QString *preset = nullptr)
    {
        OnNextModal([path, title, preset](QWidget *w) {
            auto *d = qobject_cast<QFileDialog *>(w);
            ASSERT_NE(d, nullptr);
            if (title)
                *title = d->windowTitle();
            if (preset)
                *preset = d->selectedFiles().value(0);
            if (path.isEmpty()) {
                d->reject();
                return;
            }
            // Typed, as a user would: selecting waits for the folder to load.
            auto *name = d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            name->setText(path);
            QMetaObject::invokeMethod(d, "accept");
        });
    }

    QStringList Recent() const
    {
        QStringList out;
        for (TWidestringAction *a : fm->waRecentFilename)
            out << a->Value();
        return out;
    }

    // As the window system does: the drop only follows an accepted enter.
    void SendDrop(const QMimeData &data)
    {
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(panel, &enter);
        lastDropAccepted = false;
        if (!enter.isAccepted())
            return;
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(panel, &drop);
        lastDropAccepted = drop.isAccepted();
    }

    void SendMouse(QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons held)
    {
        QMouseEvent e(type, QPointF(pos), QPointF(pos), button, held, Qt::NoModifier);
        QApplication::sendEvent(panel, &e);
    }

    TempHive hive;
    QTemporaryDir dir;
    QWidget form;
    QLabel label{&form};
    QLineEdit edit{&form};
    QWidget *panel = nullptr;
    QObject pending;
    QPointer<QWidget> lastModal;
    TMonoFichierMan *fm = nullptr;
    QStringList log, tested;
    bool openResult = true;
    bool lastDropAccepted = false;
};

}  // namespace

// ---- opening ------------------------------------------------------------------------

TEST_F(MonoFichierMan, OpenDialogChoosesAndRefusedFilesLeaveTheCurrentOneOpen)
{
    const QString a = Clip("clips/a.avi");
    QString title;
    ChooseFile(a, &title);
    fm->waOpenFile->ExecutePrepared();
    EXPECT_EQ(title, "Select the file to open");
    EXPECT_EQ(log, (QStringList{"close ", "open " + a}));
    EXPECT_EQ(label.text(), "a.avi");
    EXPECT_EQ(edit.text(), a);
    EXPECT_EQ(fm->OpenFileValue(), a);

    log.clear();
    ChooseFile(QString());  // cancelled
    fm->waOpenFile->ExecutePrepared();
    QDir(dir.path()).mkdir("folder.avi");
    fm->OpenFileByName(Clip("b.mp4"));                // extension refused
    fm->OpenFileByName(dir.filePath("missing.avi"));  // gone
    fm->OpenFileByName(dir.filePath("folder.avi"));   // a folder is no file
    EXPECT_TRUE(log.isEmpty());
    EXPECT_EQ(fm->CurrentFile(), a);
    EXPECT_EQ(tested, (QStringList{".avi", ".mp4", ".avi", ".avi"}));
    EXPECT_EQ(fm->LowerExtension("/x.y/NAME.MKV"), ".mkv");
    EXPECT_EQ(fm->LowerExtension("/x.y/name"), "");
}

TEST_F(MonoFichierMan, NewCloseAndFailedOpensMoveBetweenTheStates)
{
    const QString a = Clip("a.avi");
    openResult = false;
    fm->waOpenFile->SetValue(a);
    fm->waOpenFile->SetValue("%new%");
    EXPECT_EQ(fm->State(), TDocumentState::New);
    EXPECT_EQ(label.text(), "Macro (not saved)");
    EXPECT_EQ(fm->OpenFileValue(), "%new%");
    fm->waOpenFile->SetValue("%no%");
    EXPECT_EQ(fm->State(), TDocumentState::None);
    EXPECT_EQ(label.text(), "No file");
    EXPECT_EQ(fm->OpenFileValue(), "%no%");
    EXPECT_EQ(log, (QStringList{"close ", "open " + a, "error " + a, "close " + a, "new", "close Macro"}));
    EXPECT_EQ(Recent().first(), a);  // a failed open is remembered too
}

// ---- recent files -------------------------------------------------------------------

TEST_F(MonoFichierMan, RecentListKeepsTenNewestFirstAndHidesGoneFiles)
{
    QStringList clips;
    for (int i = 1; i <= 12; ++i)
        fm->OpenFileByName(clips.emplace_back(Clip(QString("c%1.avi").arg(i))));
    QStringList expected;
    for (int i = 11; i >= 2; --i)
        expected << clips[i];
    ASSERT_EQ(Recent(), expected);
    EXPECT_EQ(fm->naRecent[0]->Caption(), "1 " + clips[11]);
    fm->OpenFileByName(clips[11]);  // already on top
    EXPECT_EQ(Recent(), expected);

    log.clear();
    fm->naRecent[3]->ExecutePrepared();  // slot 4 moves up, 1..3 down, 5..10 stay
    EXPECT_EQ(log, (QStringList{"close " + clips[11], "open " + clips[8]}));
    EXPECT_EQ(Recent(), QStringList({clips[8], clips[11], clips[10], clips[9]}) + expected.mid(4));

    QFile::remove(clips[10]);
    fm->SetRecentLength(50);  // re-captions, so the menu learns
    EXPECT_FALSE(fm->naRecent[2]->Visible());
    EXPECT_TRUE(fm->naRecent[3]->Visible());
    log.clear();
    fm->naRecent[2]->ExecutePrepared();
    EXPECT_TRUE(log.isEmpty());
    EXPECT_EQ(Recent()[2], clips[10]);  // nothing lost
}

TEST_F(MonoFichierMan, RecentCaptionsCutLongNamesAndFolders)
{
    const QString name = QString(56, 'n') + ".avi";  // 60 characters
    EXPECT_EQ(TMonoFichierMan::RecentCaption("/home/user/videos/" + name, 50), "/hom.../" + name.left(46));
    EXPECT_EQ(TMonoFichierMan::RecentCaption("/v/short.avi", 50), "/v/short.avi");
    EXPECT_EQ(TMonoFichierMan::RecentCaption("/videos/abcdef.avi", 2), "/v.../");
    const QString deep = Clip("a/very/deep/folder/clip.avi");
    fm->OpenFileByName(deep);
    fm->SetRecentLength(12);
    EXPECT_EQ(fm->naRecent[0]->Caption(), "1 " + deep.left(4) + ".../clip.avi");
}

TEST_F(MonoFichierMan, RecentFilesSurviveARestartThroughTheRegistryStore)
{
    const QString a = Clip("a.avi"), b = Clip("b.avi"), gone = Clip("gone.avi");
    for (const QString &f : {gone, a, b})
        fm->OpenFileByName(f);
    fm->waInitialDir->SetValue(dir.path() + "/");
    TVostrelPreferences gp(nullptr);
    gp.titre = "MonoTest";
    gp.SetMode(spRegistre);
    ASSERT_TRUE(gp.OpenKey("ShowForm"));
    ASSERT_TRUE(fm->SaveToPrefs(&gp));
    const QStringList stored{"RecentFilename1", "RecentFilename2", "RecentFilename3", "RecentFilename4",
                             "OpenFile", "InitialDir"};
    QStringList values;
    for (const QString &n : stored)
        values << gp.ReadWideString(n, "-");
    EXPECT_EQ(values, (QStringList{b, a, gone, "", b, dir.path() + "/"}));
    QFile::remove(gone);

    QWidget form2;
    auto *again = TKWActionComponent::New<TMonoFichierMan>(&form2);
    ASSERT_TRUE(again->LoadFromPrefs(&gp));
    EXPECT_EQ(again->naRecent[1]->Caption(), "2 " + a);
    EXPECT_TRUE(again->naRecent[1]->Visible());
    EXPECT_FALSE(again->naRecent[2]->Visible());
    EXPECT_EQ(again->OpenDialog()->directory().absolutePath(), dir.path());
    EXPECT_EQ(again->State(), TDocumentState::None);  // nothing reopens by itself
}

// ---- clipboard, drops, drags --------------------------------------------------------

TEST_F(MonoFichierMan, PasteOpensTheFirstFileOfAClipboardList)
{
    const QString a = Clip("my clips/é a.avi"), b = Clip("b.avi");
    QApplication::clipboard()->setText(a);  // text, not a file list
    fm->naPasteFile->ExecutePrepared();
    QApplication::clipboard()->setMimeData(NewFileListData({dir.path()}));  // a folder
    fm->naPasteFile->ExecutePrepared();
    EXPECT_TRUE(log.isEmpty());
    QApplication::clipboard()->setMimeData(NewFileListData({a, b}));
    fm->naPasteFile->ExecutePrepared();
    EXPECT_EQ(log, (QStringList{"close ", "open " + a}));
    // Long names are not cut.
    const QString longName = Clip(QString(200, 'd') + "/" + QString(200, 'f') + ".avi");
    QApplication::clipboard()->setMimeData(NewFileListData({longName}));
    fm->naPasteFile->ExecutePrepared();
    EXPECT_EQ(fm->CurrentFile(), longName);
}

TEST_F(MonoFichierMan, DropOpensTheFirstFileButNotTheOpenOne)
{
    const QString a = Clip("a.avi"), b = Clip("b.avi"), upper = Clip("A.avi");
    std::unique_ptr<QMimeData> two(NewFileListData({a, b}));
    SendDrop(*two);
    EXPECT_TRUE(lastDropAccepted);
    EXPECT_EQ(log, (QStringList{"close ", "open " + a}));
    log.clear();
    std::unique_ptr<QMimeData> same(NewFileListData({dir.path() + "/./a.avi"}));
    SendDrop(*same);
    EXPECT_TRUE(log.isEmpty());
    // Names differing in case are two files here.
    std::unique_ptr<QMimeData> other(NewFileListData({upper}));
    SendDrop(*other);
    EXPECT_EQ(log, (QStringList{"close " + a, "open " + upper}));

    log.clear();
    std::unique_ptr<QMimeData> folder(NewFileListData({dir.path()}));
    SendDrop(*folder);
    QMimeData text;
    text.setText(b);
    SendDrop(text);
    EXPECT_FALSE(lastDropAccepted);  // left to the control
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(MonoFichierMan, DragOutStartsAtTenPixelsAndEndsWithTheHook)
{
    const QString a = Clip("a.avi");
    SendMouse(QEvent::MouseButtonPress, {20, 20}, Qt::LeftButton, Qt::LeftButton);
    SendMouse(QEvent::MouseMove, {40, 40}, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(fm->DropSource()->DragCount(), 0);  // no file to drag
    fm->OpenFileByName(a);
    SendMouse(QEvent::MouseButtonPress, {20, 20}, Qt::LeftButton, Qt::LeftButton);
    SendMouse(QEvent::MouseMove, {29, 29}, Qt::NoButton, Qt::LeftButton);
    SendMouse(QEvent::MouseMove, {11, 11}, Qt::NoButton, Qt::LeftButton);
    SendMouse(QEvent::MouseMove, {30, 20}, Qt::NoButton, Qt::NoButton);  // no button held
    EXPECT_EQ(fm->DropSource()->DragCount(), 0);
    SendMouse(QEvent::MouseMove, {30, 20}, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(fm->DropSource()->DragCount(), 1);
    EXPECT_EQ(fm->DropSource()->Files(), QStringList{a});
    SendMouse(QEvent::MouseButtonPress, {20, 20}, Qt::RightButton, Qt::RightButton);
    SendMouse(QEvent::MouseMove, {20, 10}, Qt::NoButton, Qt::RightButton);
    EXPECT_EQ(fm->DropSource()->DragCount(), 2);

    fm->SetDragControl(nullptr);
    EXPECT_FALSE(panel->acceptDrops());
    SendMouse(QEvent::MouseButtonPress, {20, 20}, Qt::LeftButton, Qt::LeftButton);
    SendMouse(QEvent::MouseMove, {40, 40}, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(fm->DropSource()->DragCount(), 2);
    fm->SetDragControl(panel);
    delete panel;
    EXPECT_EQ(fm->DragControl(), nullptr);
    panel = new QWidget(&form);
    fm->SetDragControl(panel);
    log.clear();
    std::unique_ptr<QMimeData> list(NewFileListData({Clip("b.avi")}));
    SendDrop(*list);
    EXPECT_EQ(log.size(), 2);
}

// ---- confirmations ------------------------------------------------------------------

TEST_F(MonoFichierMan, ModifiedDocumentIsOfferedForSavingBeforeClosing)
{
    const QString a = Clip("a.avi");
    fm->OpenFileByName(a);
    fm->SetModified(true);
    log.clear();
    QString question;
    AnswerBox(QMessageBox::No, &question);
    fm->naCloseFile->ExecutePrepared();
    EXPECT_EQ(question, "Do you want to save the open file ?\r\nIf not, all changes will be lost");
    EXPECT_EQ(log, QStringList{"close " + a});

    fm->OpenFileByName(a);
    fm->SetModified(true);
    log.clear();
    AnswerBox(QMessageBox::Yes);
    fm->naNewFile->ExecutePrepared();
    EXPECT_EQ(log, (QStringList{"save " + a, "close " + a, "new"}));

    // A new document whose save target dialog is cancelled stays open.
    fm->SaveType = ctAlways;
    fm->SetModified(true);
    log.clear();
    ChooseFile(QString());
    fm->OpenFileByName(a);
    EXPECT_TRUE(log.isEmpty());
    EXPECT_EQ(fm->State(), TDocumentState::New);
    const QString target = dir.filePath("kept.txt");
    ChooseFile(target);
    fm->CloseFile();
    EXPECT_EQ(log, (QStringList{"save " + target, "close " + target}));

    fm->SaveType = ctNever;
    fm->OpenFileByName(a);
    fm->SetModified(true);
    log.clear();
    fm->naCloseFile->ExecutePrepared();  // no question, no save
    EXPECT_EQ(log, QStringList{"close " + a});
}

TEST_F(MonoFichierMan, ExistingSaveTargetFollowsDeleteExisting)
{
    const QString a = Clip("notes.txt"), taken = Clip("notes_001.txt");
    fm->OpenFileByName(a);
    log.clear();
    QString title, preset, question;
    fm->DeleteExisting = ctNever;
    ChooseFile(taken, &title, &preset);
    fm->waSaveFileAs->ExecutePrepared();
    EXPECT_EQ(title, "Select the target file");
    EXPECT_EQ(preset, dir.filePath("notes_002.txt"));  // first free variant
    fm->DeleteExisting = ctAskif;
    ChooseFile(taken);
    AnswerBox(QMessageBox::No, &question);
    fm->waSaveFileAs->ExecutePrepared();
    EXPECT_EQ(question, "Do you want to overwrite the existing file:\r\n" + taken + " ?");
    EXPECT_TRUE(log.isEmpty());
    ChooseFile(taken);
    AnswerBox(QMessageBox::Yes);
    fm->waSaveFileAs->ExecutePrepared();
    fm->DeleteExisting = ctAlways;
    ChooseFile(a);
    fm->waSaveFileAs->ExecutePrepared();
    EXPECT_EQ(log, (QStringList{"save " + taken, "save " + a}));
    EXPECT_EQ(fm->CurrentFile(), a);
}

TEST_F(MonoFichierMan, DialogFiltersAndFreeVariants)
{
    EXPECT_EQ(TMonoFichierMan::DialogFilters("Videos|*.avi;*.mkv|broken"),
              (QStringList{"Videos (*.avi *.mkv)", "All files (*)"}));
    fm->SetFilter("Macro Files (*.txt)|*.txt");
    EXPECT_EQ(fm->OpenDialog()->nameFilters(), (QStringList{"Macro Files (*.txt)", "All files (*)"}));
    EXPECT_EQ(fm->OpenDialog()->selectedNameFilter(), "Macro Files (*.txt)");
    Clip("d.v/noext");
    EXPECT_EQ(TMonoFichierMan::FreeVariant(dir.filePath("d.v/noext")), dir.filePath("d.v/noext_001"));
}

// ---- the file's folder --------------------------------------------------------------

TEST_F(MonoFichierMan, ParentFolderOpensTheFolderWithoutAFileBrowser)
{
    UrlCatcher desktop;
    EXPECT_FALSE(fm->ParentFolder());  // no file
    fm->OpenFileByName(Clip("sub/a.avi"));
    fm->naParentFolder->ExecutePrepared();
    EXPECT_EQ(desktop.opened, QList<QUrl>{QUrl::fromLocalFile(dir.filePath("sub"))});
}

#include "MonoFichierMan_guitest.moc"
