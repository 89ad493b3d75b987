// The video manager's messages and the inlay text composed from them.
#include "KWPack/uVideoMan.h"

#include "KWPack/uNotifier.h"

namespace {

// A text that shares nothing with the record a streaming thread keeps.
QString Unshared(const QString &text) { return QString(text.constData(), text.size()); }

// The picture strings of an empty format: short date, then long time.
QString DateText(const QString &format, TDateTime value)
{
    return FormatDateTime(format.isEmpty() ? QStringLiteral("c") : format, value);
}

struct TPathParts {
    QString Name, Folder, Extension;
};

// Either separator: paths may come from a stored setting written elsewhere.
TPathParts SplitPath(const QString &path)
{
    const qsizetype cut = std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
    TPathParts parts;
    parts.Folder = path.left(cut + 1);
    QString file = path.mid(cut + 1);
    const qsizetype dot = file.lastIndexOf(u'.');
    if (dot >= 0) {
        parts.Extension = file.mid(dot);
        file.truncate(dot);
    }
    parts.Name = file;
    return parts;
}

} // namespace

void TVideoMan::WndProc(TMessage &message)
{
    switch (message.Msg) {
    case WM_VIDEO_FORMAT:
        return HandleVideoFormat(message);
    case WM_VIDEO_DVCODES:
        if (const auto *rec = reinterpret_cast<const TDVCodesRec *>(message.wParam)) {
            DateValid = rec->DateValid != 0;
            TimeCodeValid = rec->TimeCodeValid != 0;
            DVDate = rec->Date;
            TimeCodeText = Unshared(rec->TimeCodeText);
        }
        ReplyMessage(0);  // the record is ours now; the streaming thread goes on
        break;
    case WM_VIDEO_FRAMETIME:
        if (const auto *text = reinterpret_cast<const QString *>(message.wParam)) {
            FrameTimeText = Unshared(*text);
            FrameTimeValid = true;
        }
        ReplyMessage(0);
        break;
    case WM_VIDEO_SYSDATE:
        if (const auto *rec = reinterpret_cast<const TIncrustSysDate *>(message.lParam)) {
            SysDateValid = rec->Valid != 0;
            SysDate = rec->DateTime;
        }
        break;
    case WM_VIDEO_NUMBER:
        if (const auto *rec = reinterpret_cast<const TIncrustNumero *>(message.lParam)) {
            NumberValid = rec->Valid != 0;
            NumberText = rec->Number;
        }
        break;
    case WM_VIDEO_FILENAME:
        if (const auto *rec = reinterpret_cast<const TIncrustFileName *>(message.lParam)) {
            FileNameValid = rec->Valid != 0;
            FileNameText = rec->FileName;
        }
        break;
    default:
        return TWindowLessMan::WndProc(message);
    }
    message.Result = 0;
    ComposeInlay();
}

void TVideoMan::HandleVideoFormat(TMessage &message)
{
    message.Result = 0;
    const auto *rec = reinterpret_cast<const TVideoData *>(message.lParam);
    if (!rec)
        return;
    StoredFormat = ::Unshared(*rec);
    ReplyMessage(0);
    if (message.wParam == 2) {
        if (OnNotifyVideoFormat)
            OnNotifyVideoFormat(StoredFormat.FormatText + QStringLiteral(" - ") + StoredFormat.SizeText);
    } else if (message.wParam == 4) {
        ComputeAspect(StoredFormat);
    }
}

void TVideoMan::SetDateOffset(double days)
{
    DateOffset = days;
    ComposeInlay();
}

void TVideoMan::SetPattern(int slot, const QString &pattern)
{
    if (slot < 0 || slot >= kInlayLines)
        return;
    Patterns[size_t(slot)].Pattern = pattern;
    ComposeInlay();
}

void TVideoMan::SetDateFormat(int slot, const QString &format)
{
    if (slot < 0 || slot >= kInlayLines)
        return;
    Patterns[size_t(slot)].DateFormat = format;
    ComposeInlay();
}

QString TVideoMan::ComposeLine(const TInlayPattern &slot) const
{
    // Tokens whose value never came are replaced by the (empty) fallback.
    QString text = slot.Pattern;
    const auto put = [&text](const char *token, const QString &value) {
        text.replace(QLatin1String(token), value, Qt::CaseInsensitive);
    };
    put("%D", DateValid ? DateText(slot.DateFormat, DVDate + DateOffset) : QString());
    put("%T", TimeCodeValid ? TimeCodeText : QString());
    put("%S", FrameTimeValid ? FrameTimeText : QString());
    put("%R", SysDateValid ? DateText(slot.RealDateFormat, SysDate) : QString());
    put("%N", NumberValid ? NumberText : QString());
    const TPathParts path = FileNameValid ? SplitPath(FileNameText) : TPathParts{};
    put("%F", path.Name);
    put("%P", path.Folder);
    put("%E", path.Extension);
    return text;
}

void TVideoMan::ComposeInlay()
{
    for (int i = 0; i < kInlayLines; ++i) {
        const TInlayPattern &slot = Patterns[size_t(i)];
        TInlayLine &line = InlayLines[size_t(i)];
        line.Enabled = !slot.Pattern.isEmpty();
        line.Text = line.Enabled ? ComposeLine(slot) : QString();
    }
    RefreshInlay();
}

void TVideoMan::ClearInlayFlags()
{
    DateValid = TimeCodeValid = SysDateValid = NumberValid = FrameTimeValid = false;
}
