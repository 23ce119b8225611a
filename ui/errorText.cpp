#include "ui/errorText.h"

#include <QDir>

#include <cerrno>

namespace quillon {

QString systemErrorText(int errorNumber) {
    switch (errorNumber) {
    case EACCES:
    case EPERM:
        return QStringLiteral("アクセスする権限がありません");
    case ENOSPC:
        return QStringLiteral("ディスクの空き容量が足りません");
    case EDQUOT:
        return QStringLiteral("ディスクの使用量が上限に達しています");
    case EROFS:
        return QStringLiteral("読み出し専用のディスクには書き込めません");
    case ENOENT:
        return QStringLiteral("ファイルまたはフォルダーが見つかりません");
    case ENAMETOOLONG:
        return QStringLiteral("ファイル名が長すぎます");
    case ENXIO:
        return QStringLiteral("パイプ（FIFO）を読み出すプログラムがありません");
    case EPIPE:
        return QStringLiteral("パイプ（FIFO）を読み出すプログラムが途中で終了しました");
    case EISDIR:
        return QStringLiteral("同じ名前のフォルダーがあります");
    case ENOTDIR:
        return QStringLiteral("途中の名前がフォルダーではありません");
    case EEXIST:
        return QStringLiteral("同じ名前のファイルがあります");
    case ELOOP:
        return QStringLiteral("シンボリックリンクが循環しています");
    case EFBIG:
        return QStringLiteral("ファイルが大きすぎます");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("開いているファイルが多すぎます");
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("ファイルが使用中です");
    case EIO:
        return QStringLiteral("ディスクの読み書きでエラーが起きました");
    case ENOMEM:
        return QStringLiteral("メモリーが足りません");
    case EXDEV:
        return QStringLiteral("別のディスクへは移動できません");
    case EINVAL:
        return QStringLiteral("この場所には書き込めません");
    case 0:
        return QStringLiteral("原因のわからないエラーが起きました");
    default:
        break;
    }
    return QStringLiteral("予期しないエラーが起きました（エラー番号 %1）").arg(errorNumber);
}

QString fileErrorText(const QString& path, int errorNumber) {
    return QStringLiteral("「%1」: %2").arg(QDir::toNativeSeparators(path), systemErrorText(errorNumber));
}

} // namespace quillon
