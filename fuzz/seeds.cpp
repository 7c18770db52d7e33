// Writes seed corpora of the fuzz targets from real messages: requests
// made by the client's builders, the reference host's answers to them (on its
// demo data), the frames they travel in, settings files as the program writes
// them, and Hangul texts.
//
//   sorna-fuzz-seeds <corpus folder>     (fuzz/corpus)
//
// Every file is written under a fixed name, so running it again rewrites the
// same seeds; inputs the fuzzers found are kept beside them.

#include "card/cardinquiry.h"
#include "foundation/clock.h"
#include "foundation/cp949.h"
#include "hostlink/envelope.h"
#include "hostlink/zseed.h"
#include "hostsim/database.h"
#include "hostsim/demodata.h"
#include "hostsim/hostlogic.h"
#include "login/loginmessage.h"
#include "payment/transactionmessages.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>

using namespace sorna;
using namespace sorna::host;

namespace {

QString g_root;
int g_written = 0;

void write(const QString& target, const QString& name, const QByteArray& bytes)
{
    const QString folder = g_root + u'/' + target;
    QDir().mkpath(folder);
    QFile f(folder + u'/' + name);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(f.fileName()));
        std::exit(1);
    }
    ++g_written;
}

QByteArray mode(uint8_t m)
{
    return QByteArray(1, char(m));
}

QByteArray pieces(uint8_t a, uint8_t b, uint8_t c, uint8_t d)
{
    return QByteArray{} + char(a) + char(b) + char(c) + char(d);
}

QByteArray int16(int v)
{
    return QByteArray{} + char(v & 0xFF) + char((v >> 8) & 0xFF);
}

QByteArray utf16(const QString& s)
{
    return QByteArray(reinterpret_cast<const char*>(s.utf16()), s.size() * 2);
}

TransactionInput input(TransactionMode m, const QString& card, const QString& amount, const QString& care,
                       const QString& teacherCode, const QString& teacher)
{
    TransactionInput in;
    in.mode = m;
    in.entryMode = kEntryReader;
    in.cardNumber = card;
    in.amountShown = amount;
    in.careCode = care;
    in.teacherCode = teacherCode;
    in.teacherName = teacher;
    in.reasonText = QStringLiteral("치료 일정 변경");
    return in;
}

// A plain text of `size` bytes shaped as a message (length field, digits of
// msg_type) whose frame "0640..." reads, before it is whole, like a shorter
// frame: "064", then "0" and the first 63 characters of the cipher text, which
// happen to decipher with valid padding (about one frame in 256).  The
// search is deterministic.
QByteArray earlyLookingPlain(int size)
{
    quint32 state = 12345;
    QByteArray plain(size, '0');
    for (;;) {
        for (int i = 8; i < size; ++i) {
            state = state * 1103515245u + 12345u;
            plain[i] = char('0' + (state >> 16) % 10);
        }
        const QByteArray frame = SealFrame(plain);
        const auto early =
            QByteArray::fromBase64Encoding(frame.mid(3, 64), QByteArray::AbortOnBase64DecodingErrors);
        QByteArray ignored;
        if (frame.startsWith("0640") && early && seed::cbcDecrypt(early.decoded, &ignored))
            return plain;
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: sorna-fuzz-seeds <corpus folder>\n");
        return 2;
    }
    g_root = QString::fromLocal8Bit(argv[1]);
    qputenv("QUENDAL_ROOT", "/dev/null/sorna-fuzz-seeds");

    const QDateTime now(QDate(2025, 3, 5), QTime(14, 30, 25));
    Clock::setFixed(now);
    HostDatabase db;
    if (!db.open(QStringLiteral(":memory:")) || !db.insertDemoData()) {
        std::fprintf(stderr, "host database: %s\n", qPrintable(db.lastError()));
        return 1;
    }
    HostLogic host(db);
    const QString issue = demo::kIssueCode;
    const QString merchant = demo::kMerchantNo;

    struct Message
    {
        QString name;
        QByteArray plain;
    };
    QList<Message> requests, answers;
    const auto exchange = [&](const QString& name, const QString& record) {
        const QByteArray plain = cp949::encode(WithLengthField(record));
        requests.append({name, plain});
        const QByteArray answer = host.handle(plain, now).answer;
        if (!answer.isEmpty())
            answers.append({name, answer});
        return answer;
    };

    exchange(QStringLiteral("login-accepted"),
             BuildLoginRequest(issue, QString(), demo::kBusinessNo, demo::kAuthNo).record);
    exchange(QStringLiteral("login-wrong-auth"),
             BuildLoginRequest(issue, QString(), demo::kBusinessNo, QStringLiteral("000000")).record);
    exchange(QStringLiteral("inquiry-nine-items"),
             BuildCardInquiry(demo::kCardNineItems, issue, kEntryReader, merchant));
    exchange(QStringLiteral("inquiry-two-items"),
             BuildCardInquiry(demo::kCardTwoItems, issue, kEntryReader, merchant));
    exchange(QStringLiteral("inquiry-stolen"),
             BuildCardInquiry(demo::kCardStolen, issue, kEntryReader, merchant));
    exchange(QStringLiteral("inquiry-typed-refused"),
             BuildCardInquiry(demo::kCardNineItems, kManualIssueCode, kEntryManual, demo::kMerchantNo2));

    const TransactionInput approval =
        input(TransactionMode::Approval, demo::kCardNineItems, QStringLiteral("50,000"),
              QStringLiteral("101"), QStringLiteral("TC25010001"), QStringLiteral("박소윤"));
    const QByteArray approved =
        exchange(QStringLiteral("approval-accepted"), BuildTransactionRequest(approval, issue, merchant));
    TransactionInput overLimit = approval;
    overLimit.amountShown = QStringLiteral("900,000");
    exchange(QStringLiteral("approval-over-limit"), BuildTransactionRequest(overLimit, issue, merchant));

    TransactionInput cancellation = approval;
    cancellation.mode = TransactionMode::Cancellation;
    cancellation.orgAuthDate = QStringLiteral("20250305");
    cancellation.orgApprovalNo = MidBytes(approved, 136, 12).trimmed();
    exchange(QStringLiteral("cancellation-accepted"), BuildTransactionRequest(cancellation, issue, merchant));
    exchange(QStringLiteral("cancellation-again-refused"),
             BuildTransactionRequest(cancellation, issue, merchant));

    const QByteArray second =
        exchange(QStringLiteral("approval-second"), BuildTransactionRequest(approval, issue, merchant));
    (void)second;
    TransactionInput reversal = approval;
    reversal.automaticCancellation = true;
    exchange(QStringLiteral("reversal"), BuildTransactionRequest(reversal, issue, merchant));

    exchange(QStringLiteral("balance-accepted"),
             BuildTransactionRequest(input(TransactionMode::Balance, demo::kCardNineItems, {}, {}, {}, {}),
                                     issue, merchant));
    exchange(QStringLiteral("balance-unknown-card"),
             BuildTransactionRequest(input(TransactionMode::Balance, demo::kCardUnknown, {}, {}, {}, {}),
                                     issue, merchant));

    // ---- frame: [mode][4 piece sizes][payload] ---------------------------
    const QList<QByteArray> splits = {pieces(1, 1, 1, 1), pieces(3, 64, 2, 200), pieces(255, 255, 255, 255),
                                      pieces(0, 5, 0, 67)};
    int k = 0;
    for (const Message& m : answers) {
        const QByteArray split = splits[k++ % splits.size()];
        write(QStringLiteral("frame"), m.name + QStringLiteral("-frame"),
              mode(0) + split + SealFrame(m.plain));
        write(QStringLiteral("frame"), m.name + QStringLiteral("-sealed"),
              mode(k % 2 ? 1 : 3) + split + m.plain);
    }
    const QByteArray loginFrame = SealFrame(answers.first().plain);
    write(QStringLiteral("frame"), QStringLiteral("request-login-frame"),
          mode(0) + pieces(1, 2, 3, 4) + SealFrame(requests.first().plain));
    write(QStringLiteral("frame"), QStringLiteral("blanks-around"),
          mode(0) + pieces(2, 2, 2, 2) + "  \r\n" + loginFrame + QByteArray("\r\n\0", 3));
    write(QStringLiteral("frame"), QStringLiteral("truncated"),
          mode(0) + pieces(7, 7, 7, 7) + loginFrame.chopped(9));
    write(QStringLiteral("frame"), QStringLiteral("wrong-prefix"),
          mode(0) + pieces(4, 4, 4, 4) + "X999" + loginFrame.sliced(4));
    write(QStringLiteral("frame"), QStringLiteral("blank-length"),
          mode(0) + pieces(4, 4, 4, 4) + "0   " + loginFrame.sliced(4));
    write(QStringLiteral("frame"), QStringLiteral("extra-after"),
          mode(0) + pieces(16, 16, 16, 16) + loginFrame + "0428AAAA");
    // "0640..." whose first 67 bytes read like "064" and 64 characters that
    // decipher: fed a byte at a time, and cut right there.
    const QByteArray early = earlyLookingPlain(470);
    write(QStringLiteral("frame"), QStringLiteral("early-looking-640-bytewise"),
          mode(1) + pieces(1, 1, 1, 1) + early);
    write(QStringLiteral("frame"), QStringLiteral("early-looking-640-cut-at-67"),
          mode(1) + pieces(67, 255, 255, 255) + early);
    write(QStringLiteral("frame"), QStringLiteral("garbage"),
          mode(0) + pieces(9, 9, 9, 9) + "HTTP/1.1 400 Bad Request\r\n\r\n");

    // ---- envelope: [mode][received bytes | plain answer] ----------------
    for (const Message& m : answers) {
        write(QStringLiteral("envelope"), m.name + QStringLiteral("-frame"), mode(0) + SealFrame(m.plain));
        write(QStringLiteral("envelope"), m.name + QStringLiteral("-plain"), mode(1) + m.plain);
    }
    write(QStringLiteral("envelope"), QStringLiteral("truncated"), mode(0) + loginFrame.chopped(30));
    write(QStringLiteral("envelope"), QStringLiteral("bad-base64"), mode(0) + "024" + QByteArray(24, '*'));
    write(QStringLiteral("envelope"), QStringLiteral("not-deciphering"),
          mode(0) + "024" + QByteArray("AAAAAAAAAAAAAAAAAAAAAA=="));

    // ---- cutters: the deciphered answer itself --------------------------
    for (const Message& m : answers)
        write(QStringLiteral("cutters"), m.name, m.plain);
    QByteArray lying = answers.first().plain;
    lying.replace(0, 4, "9999");
    write(QStringLiteral("cutters"), QStringLiteral("login-length-too-long"), lying);
    lying.replace(0, 4, "-001");
    write(QStringLiteral("cutters"), QStringLiteral("login-length-negative"), lying);
    write(QStringLiteral("cutters"), QStringLiteral("blanks"), QByteArray(2000, ' '));

    // ---- ini: section, key, value, section 2, key 2 (NUL ended), file ---
    const QByteArray settings = cp949::encode(
        QStringLiteral("[KolbrinInfo]\r\nsorna_Ip=127.0.0.1\r\nsorna_Port=9100\r\n"
                       "sorna_Issue_code=3901\r\nsorna_Web=http://127.0.0.1/\r\n"
                       "[ComInfo]\r\nName=해솔아동발달센터\r\nNumber=7100012345\r\n"
                       "Telephone=02-3472-1180\r\nAddress=서울특별시 서초구 반포대로 58, 3층\r\n"
                       "Print=1\r\n[CustomerInfo]\r\nbusiness_number=2148712345\r\n"));
    const QByteArray kolbrin =
        cp949::encode(QStringLiteral("[ComInfo]\r\nName=늘봄언어심리치료실\r\nNumber=7100023456\r\n"
                                     "Telephone=031-712-4400\r\n"
                                     "Address=경기도 성남시 분당구 정자일로 95\r\nPrint=0\r\n"));
    const auto ini = [](const QString& s, const QString& key, const QString& value, const QString& s2,
                        const QString& key2, const QByteArray& file) {
        QByteArray out;
        for (const QString& part : {s, key, value, s2, key2})
            out += cp949::encode(part) + '\0';
        return out + file;
    };
    write(QStringLiteral("ini"), QStringLiteral("settings-name"),
          ini(QStringLiteral("ComInfo"), QStringLiteral("Name"), QStringLiteral("새 가맹점 이름"),
              QStringLiteral("KolbrinInfo"), QStringLiteral("sorna_Ip"), settings));
    write(QStringLiteral("ini"), QStringLiteral("settings-new-key"),
          ini(QStringLiteral("comINFO"), QStringLiteral("Misc"), QStringLiteral("  비고  "),
              QStringLiteral("ComInfo"), QStringLiteral("Name"), settings));
    write(QStringLiteral("ini"), QStringLiteral("settings-new-section"),
          ini(QStringLiteral("Update"), QStringLiteral("Version"), QStringLiteral("44"),
              QStringLiteral("ComInfo"), QStringLiteral("address"), settings));
    write(QStringLiteral("ini"), QStringLiteral("settings-address-lines"),
          ini(QStringLiteral("ComInfo"), QStringLiteral("Address"),
              QStringLiteral("서울\r\n[KolbrinInfo]\r\nsorna_Ip=1"), QStringLiteral("KolbrinInfo"),
              QStringLiteral("sorna_Ip"), settings));
    write(QStringLiteral("ini"), QStringLiteral("kolbrin-print"),
          ini(QStringLiteral("ComInfo"), QStringLiteral("Print"), QStringLiteral("1"),
              QStringLiteral("ComInfo"), QStringLiteral("Telephone"), kolbrin));
    write(QStringLiteral("ini"), QStringLiteral("kolbrin-lf-only"),
          ini(QStringLiteral("ComInfo"), QStringLiteral("Name"), QStringLiteral("가맹점"),
              QStringLiteral("ComInfo"), QStringLiteral("Number"),
              QByteArray(kolbrin).replace("\r\n", "\n")));
    write(QStringLiteral("ini"), QStringLiteral("hangul-names"),
          ini(QStringLiteral("가맹점"), QStringLiteral("이름"), QStringLiteral("값"),
              QStringLiteral("가맹점"), QStringLiteral("주소"),
              cp949::encode(QStringLiteral("[가맹점]\r\n주소=서울\r\n이름=옛 값\r\n"))));
    // Two Hangul syllables whose trail bytes look like "A" and "a".
    {
        const QByteArray section = cp949::encode(QStringLiteral("가맹점"));
        write(QStringLiteral("ini"), QStringLiteral("trail-byte-letters"),
              section + '\0' + "\x81\x41" + '\0' + "new" + '\0' + section + '\0' + "\x81\x61" + '\0' + '[' +
                  section + "]\r\n\x81\x61=old\r\n");
    }
    write(QStringLiteral("ini"), QStringLiteral("empty-file"),
          ini(QStringLiteral("ComInfo"), QStringLiteral("Print"), QStringLiteral("0"),
              QStringLiteral("ComInfo"), QStringLiteral("Name"), QByteArray()));
    write(QStringLiteral("ini"), QStringLiteral("no-final-break"),
          ini(QStringLiteral("KolbrinInfo"), QStringLiteral("sorna_Port"), QStringLiteral("9200"),
              QStringLiteral("KolbrinInfo"), QStringLiteral("sorna_Ip"), settings.chopped(2)));
    write(QStringLiteral("ini"), QStringLiteral("comments-and-blanks"),
          ini(QStringLiteral("A"), QStringLiteral("k"), QString(1100, u'가'), QStringLiteral("B"),
              QStringLiteral("k"),
              QByteArrayLiteral(
                  "; comment\r\n\r\n  [ a ]  \r\n k = 1 \r\n;k=2\r\n\r\n[B]\r\nk=3\r\n[A]\r\nk=4\r\n")));

    // ---- textbytes: [mode][start][count][width][pad][text] --------------
    const QStringList texts = {
        QStringLiteral("해솔아동발달센터"), QStringLiteral("서울특별시 서초구 반포대로 58, 3층"),
        QStringLiteral("김서연"),           QStringLiteral("서울한빛초등학교"),
        QStringLiteral("150,000"),          QStringLiteral("A가B나C"),
        QStringLiteral("9410120000000019"), QStringLiteral("똠방각하 뷁")};
    const struct
    {
        int start, count, width;
    } numbers[] = {{1, 7, 10},  {2, 5, 9}, {0, 0, 0},    {-3, -1, -5},
                   {5, 40, 60}, {3, 3, 3}, {17, 16, 37}, {1, 1, 1}};
    k = 0;
    for (const QString& t : texts) {
        const auto& n = numbers[k % std::size(numbers)];
        const QByteArray head = int16(n.start) + int16(n.count) + int16(n.width) + (k % 2 ? '0' : ' ');
        write(QStringLiteral("textbytes"), QStringLiteral("cp949-%1").arg(k),
              mode(0) + head + cp949::encode(t));
        write(QStringLiteral("textbytes"), QStringLiteral("utf16-%1").arg(k), mode(1) + head + utf16(t));
        ++k;
    }
    write(QStringLiteral("textbytes"), QStringLiteral("utf16-lone-surrogate"),
          mode(1) + int16(1) + int16(3) + int16(4) + ' ' + utf16(QStringLiteral("가")) +
              QByteArray("\x00\xD8", 2) + utf16(QStringLiteral("A")));
    const QString fields =
        QStringLiteral("0500|3901|20250305|143025|143025012345|00|7100012345|20250305|143025|11|0|"
                       "9410120000000019|||0000050000||||000300000|000050000|000250000|0||101|"
                       "TC25010001|박소윤|김서연|서울한빛초등학교|치료 일정 변경|");
    write(QStringLiteral("textbytes"), QStringLiteral("record-cp949"),
          mode(2) + QByteArray(7, '\0') + cp949::encode(fields));
    write(QStringLiteral("textbytes"), QStringLiteral("record-utf16"),
          mode(3) + QByteArray(7, '\0') + utf16(fields));

    std::printf("%d seed files written below %s\n", g_written, qPrintable(g_root));
    return 0;
}
