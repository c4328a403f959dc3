// The front-end's procedures that need no window: the profile parser, the Windows-1252 codec, the
// online-list splitter, the port field's number, the fault report and the avatar image.
#include <QColor>
#include <QImage>
#include <QTest>

#include "Network/Client_Demo/ErrorHandler.h"
#include "Network/Client_Demo/FrontEndState.h"
#include "Network/Client_Demo/Handlers.h"
#include "Network/Client_Demo/ProfileDisplay.h"
#include "Network/Client_Demo/TextCodec.h"
#include "Network/Client_Demo/Workers.h"
#include "protocol/TextFormats.h"

using Values = std::array<std::string, ProfileValueCount>;
Q_DECLARE_METATYPE(Values)

namespace {

QString Show(const Values &values) {
    QStringList parts;
    for (const std::string &value : values) {
        parts.append(QString::fromLatin1(value.c_str()).replace('\n', "\\n").replace('\r', "\\r"));
    }
    return parts.join(QStringLiteral(" | "));
}

}  // namespace

class GuiUnitTests : public QObject {
    Q_OBJECT

private slots:
    void parsesProfileText_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<Values>("expected");
        QTest::newRow("as written, empty homepage, two-line signature")
            << QByteArray(
                   "VERSION 1\n\rFirstName: Anna\n\rSureName: Berg\n\rCountry: DE\n\r"
                   "City: Bonn\n\rBirth: 1.2.1990\n\rHomepage: \n\rSignature: Hi\r\nthere")
            << Values{"Anna", "Berg", "DE", "Bonn", "1.2.1990", "", "Hi\r\nthere"};
        QTest::newRow("all values empty")
            << QByteArray(
                   "VERSION 1\n\rFirstName: \n\rSureName: \n\rCountry: \n\rCity: \n\r"
                   "Birth: \n\rHomepage: \n\rSignature: ")
            << Values{};
        QTest::newRow("a missing line end takes in the next line")
            << QByteArray(
                   "VERSION 1\n\rFirstName: A\n\rSureName: B\nCountry: C\n\rCity: D\n\r"
                   "Birth: E\n\rHomepage: F\n\rSignature: G")
            << Values{"A", "B\nCountry: C", "", "D", "E", "F", "G"};
        QTest::newRow("absent keys are empty")
            << QByteArray("VERSION 1\n\rFirstName: A\n\rSignature: S")
            << Values{"A", "", "", "", "", "", "S"};
        QTest::newRow("no line end after a key: empty, next key searched from the start")
            << QByteArray("VERSION 1\n\rFirstName: A\n\rSureName: B Country: C Signature: S")
            << Values{"A", "", "", "", "", "", "S"};
        QTest::newRow("keys out of order are only found behind the previous key")
            << QByteArray("VERSION 1\n\rSureName: B\n\rFirstName: A\n\rSignature: S")
            << Values{"A", "", "", "", "", "", "S"};
        QTest::newRow("a repeated key yields its first occurrence")
            << QByteArray(
                   "VERSION 1\n\rFirstName: A\n\rFirstName: Z\n\rSureName: B\n\r"
                   "Signature: S")
            << Values{"A", "B", "", "", "", "", "S"};
        QTest::newRow("bytes after the signature belong to it")
            << QByteArray(
                   "FirstName: A\n\rSureName: \n\rCountry: \n\rCity: \n\rBirth: \n\r"
                   "Homepage: h\n\rSignature: one\n\rtwo\n\r")
            << Values{"A", "", "", "", "", "h", "one\n\rtwo\n\r"};
        QTest::newRow("CR LF is not a line end")
            << QByteArray("FirstName: A\r\nSureName: B\n\rSignature: S")
            << Values{"A\r\nSureName: B", "", "", "", "", "", "S"};
        QTest::newRow("text without any key") << QByteArray("garbage") << Values{};
        QTest::newRow("key at the very end") << QByteArray("FirstName: ") << Values{};
    }

    void parsesProfileText() {
        QFETCH(QByteArray, text);
        QFETCH(Values, expected);
        const Values parsed = ParseProfileText(std::string_view(text.constData(), text.size()));
        QCOMPARE(Show(parsed), Show(expected));
    }

    void convertsWindows1252() {
        // The block 0x80-0x9F is not Latin-1.
        QCOMPARE(FromWire("\x80"), QString(QChar(0x20AC)));
        QCOMPARE(FromWire("\x9F"), QString(QChar(0x0178)));
        QCOMPARE(FromWire("\x93Gr\xFC\xDF\x94"), QStringLiteral(u"“Grüß”"));
        QCOMPARE(ToWire(QStringLiteral(u"Müller €5 – ok")), std::string("M\xFCller \x80"
                                                                        "5 \x96 ok"));
        // Characters the code page lacks become '?', one per character.
        QCOMPARE(ToWire(QStringLiteral(u"Ж😀x")), std::string("??x"));
        // Every byte survives the way there and back, the five undefined ones included.
        std::string all;
        for (int byte = 1; byte < 256; ++byte) {
            all.push_back(static_cast<char>(byte));
        }
        QCOMPARE(ToWire(FromWire(all)), all);
        QCOMPARE(FromWire(all).size(), qsizetype(255));
    }

    void splitsOnlineList_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("two names") << QByteArray("alice\n\rbob\n\r") << QStringList{"alice", "bob"};
        QTest::newRow("last without line end")
            << QByteArray("alice\n\rbob") << QStringList{"alice"};
        QTest::newRow("plain LF counts too")
            << QByteArray("alice\nbob\n") << QStringList{"alice", "bob"};
        QTest::newRow("empty") << QByteArray("") << QStringList{};
        QTest::newRow("only a name") << QByteArray("alice") << QStringList{};
        QTest::newRow("empty entries are kept")
            << QByteArray("\n\r\n\ra\n\r") << QStringList{"", "", "a"};
        QTest::newRow("CR alone stays") << QByteArray("a\rb\n\r") << QStringList{"a\rb"};
    }

    void splitsOnlineList() {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, names);
        QStringList split;
        for (const std::string &name : SplitOnlineList(text.toStdString())) {
            split.append(QString::fromStdString(name));
        }
        QCOMPARE(split, names);
    }

    void readsPortField() {
        QCOMPARE(PortFromText(QString()), 0);
        QCOMPARE(PortFromText(QStringLiteral("7000")), 7000);
        QCOMPARE(PortFromText(QStringLiteral("  80")), 80);
        QCOMPARE(PortFromText(QStringLiteral("0080")), 80);
        QCOMPARE(PortFromText(QStringLiteral("12x3")), 12);
        QCOMPARE(PortFromText(QStringLiteral("99999999999999999999")), 2147483647);
    }

    void buildsFaultReport() {
        QCOMPARE(QString::fromStdString(FaultReport(FaultCode::AccessViolation, 42, "/src/a.cpp")),
                 QStringLiteral("Invalid memory access\rLine: 42\rFile: /src/a.cpp"));
        QCOMPARE(QString(FaultText(FaultCode::IntegerDivideByZero)),
                 QStringLiteral("Division by zero "));
        QCOMPARE(QString(FaultText(FaultCode::FloatOverflow)),
                 QStringLiteral("Floating-point overflow (exponent to great)"));
        QCOMPARE(QString(FaultText(FaultCode::StackOverflow)), QStringLiteral("Stack overflow"));
        QCOMPARE(QString(FaultText(0xE06D7363)), QStringLiteral("Unknown error code"));
        QCOMPARE(QString::fromStdString(FaultReport(FaultCode::Unknown, 0, nullptr)),
                 QStringLiteral("Unknown error code\rLine: 0\rFile: "));
    }

    void convertsPictureToImage() {
        Picture picture;
        picture.Width = 2;
        picture.Height = 1;
        picture.Pixels = {0x80FF0000u, 0xFF00FF00u};
        const QImage image = PictureToImage(&picture);
        QCOMPARE(image.size(), QSize(2, 1));
        QCOMPARE(image.pixelColor(0, 0), QColor(255, 0, 0, 128));
        QCOMPARE(image.pixelColor(1, 0), QColor(0, 255, 0, 255));
        // A picture whose pixels do not match its size is never read past its end.
        picture.Pixels.pop_back();
        QVERIFY(PictureToImage(&picture).isNull());
        QVERIFY(PictureToImage(nullptr).isNull());
    }

    void convertsSignatureLineBreaks() {
        QCOMPARE(SignatureForEditor("one\r\ntwo"), QStringLiteral("one\ntwo"));
        QCOMPARE(SignatureFromEditor(QStringLiteral("one\ntwo")), std::string("one\r\ntwo"));
    }
};

QTEST_MAIN(GuiUnitTests)
#include "tst_gui_units.moc"
