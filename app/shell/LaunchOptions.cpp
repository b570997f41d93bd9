#include "app/shell/LaunchOptions.h"

namespace pexil::shell {

Result<LaunchOptions, QString> LaunchOptions::parse(const QStringList& arguments) {
    LaunchOptions options;
    bool cameraGiven = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QStringLiteral("--demo")) {
            options.demo = true;
        } else if (argument == QStringLiteral("--help") || argument == QStringLiteral("-h")) {
            options.help = true;
        } else if (argument == QStringLiteral("--version")) {
            options.version = true;
        } else if (argument == QStringLiteral("--camera") || argument.startsWith(QStringLiteral("--camera="))) {
            QString value;
            if (argument.contains(u'=')) {
                value = argument.section(u'=', 1);
            } else if (i + 1 < arguments.size()) {
                value = arguments[++i];
            }
            if (value.isEmpty()) return QStringLiteral("--camera にはカメラのアドレスが要ります");
            options.camera = value;
            cameraGiven = true;
        } else {
            return QStringLiteral("知らない引数です: ") + argument;
        }
    }
    if (options.demo && cameraGiven && options.camera != QStringLiteral("virtual"))
        return QStringLiteral("--demo は内蔵の仮想カメラを使うので、--camera とは一緒に使えません");
    if (options.demo) options.camera = QStringLiteral("virtual");
    return options;
}

QString LaunchOptions::usage() {
    return QStringLiteral(
        "使い方: pexil [--camera ADDRESS] | --demo\n"
        "  --camera ADDRESS  usb（既定: 最初に見つかったカメラ）, usb:BUS:ADDRESS, ptpip://HOST[:PORT], virtual\n"
        "  --demo            内蔵の仮想カメラ（カードに写真あり）で試す\n"
        "  --version         版を表示する\n");
}

}  // namespace pexil::shell
