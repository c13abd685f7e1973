#include "shell/Reasons.h"

#include "conversion/ConversionRun.h"
#include "system/FileError.h"
#include "shell/Names.h"

#include <cerrno>

namespace fanjian {

namespace {

QString SystemCause(int error)
{
    switch (error) {
    case ENOENT: return QStringLiteral("找不到這個資料夾或檔案");
    case ENOTDIR: return QStringLiteral("路徑中有一項不是資料夾");
    case EISDIR: return QStringLiteral("這是資料夾，不是檔案");
    case EEXIST: return QStringLiteral("已有同名的檔案");
    case ENXIO:
    case ENODEV: return QStringLiteral("這不是一般檔案（是 FIFO 或裝置）");
    case EACCES:
    case EPERM: return QStringLiteral("沒有權限");
    case ENOSPC:
    case EDQUOT: return QStringLiteral("磁碟空間不足");
    case EFBIG: return QStringLiteral("檔案超過允許的大小");
    case EROFS: return QStringLiteral("磁碟是唯讀的");
    case EIO: return QStringLiteral("磁碟讀寫錯誤");
    case ELOOP: return QStringLiteral("連結太多層或繞成迴圈");
    case ENAMETOOLONG: return QStringLiteral("路徑或檔名太長");
    case EMFILE:
    case ENFILE: return QStringLiteral("同時開啟的檔案太多");
    case ENOMEM: return QStringLiteral("記憶體不足");
    case ESTALE:
    case ENOTCONN:
    case EHOSTDOWN:
    case ETIMEDOUT: return QStringLiteral("網路磁碟已中斷");
    default: return QStringLiteral("系統錯誤 %1（%2）").arg(error).arg(QString::fromStdString(std::generic_category().message(error)));
    }
}

QString ProblemCause(FileProblem problem)
{
    switch (problem) {
    case FileProblem::NotRegularFile: return QStringLiteral("這不是一般檔案（是資料夾、FIFO、socket 或裝置）");
    case FileProblem::LinkAtPath: return QStringLiteral("輸出的位置是符號連結");
    case FileProblem::HardLinked: return QStringLiteral("輸出的檔案另有其他名稱（硬連結）");
    case FileProblem::InputFile: return QStringLiteral("輸出會寫到要轉換的檔案上");
    case FileProblem::InputFolder: return QStringLiteral("輸出的資料夾是要轉換的資料夾");
    case FileProblem::DictionaryFile: return QStringLiteral("輸出會寫到字典檔上");
    case FileProblem::NulInPath: return QStringLiteral("路徑中有 NUL 字元");
    case FileProblem::Gone: return QStringLiteral("檔案或資料夾已經不見了");
    case FileProblem::NothingWritten: return QStringLiteral("無法寫入");
    case FileProblem::LinkNotFollowed: return QStringLiteral("這是別的使用者資料夾中的符號連結，不跟隨");
    }
    return QStringLiteral("無法讀寫");
}

} // namespace

QString FailureReason(const RunFailure& failure)
{
    QString cause;
    if (failure.kind == RunFailure::Kind::Dictionary)
        cause = QStringLiteral("字典檔已損毀或無法讀取");
    else if (failure.error.category() == FileProblemCategory())
        cause = ProblemCause(static_cast<FileProblem>(failure.error.value()));
    else if (failure.error.category() == std::generic_category() || failure.error.category() == std::system_category())
        cause = SystemCause(failure.error.value());
    else
        cause = QString::fromStdString(failure.error.message());
    if (failure.path.empty())
        return cause;
    return cause + QStringLiteral("：") + ReadablePath(failure.path);
}

QString RejectionReason(const std::string& folderPath)
{
    const QString needed = QStringLiteral("請輸入以 / 開頭的完整資料夾路徑");
    if (folderPath.empty())
        return needed;
    if (folderPath.front() != '/')
        return QStringLiteral("「%1」不是完整路徑：%2").arg(ReadablePath(folderPath), needed);
    return QStringLiteral("不能轉換根資料夾「%1」：請輸入 / 底下的資料夾的完整路徑").arg(ReadablePath(folderPath));
}

std::string RejectionMessage(const std::string& folderPath)
{
    const std::string needed = "a full path beginning with / is needed";
    if (folderPath.empty())
        return "no folder to convert: " + needed;
    if (folderPath.front() != '/')
        return "not a full path: " + folderPath + ": " + needed;
    return "the root folder cannot be converted: " + folderPath + ": a full path of a folder below / is needed";
}

} // namespace fanjian
