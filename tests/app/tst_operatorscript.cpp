// The operator script's lines as the test drive reads them: what each
// action takes, and lines that must be refused rather than half-run.

#include "app/gui/operatorscript.h"

#include <QTest>

using namespace sorna;
using namespace Qt::StringLiterals;

class TestOperatorScript : public QObject
{
    Q_OBJECT

private slots:
    void lines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("args");
        QTest::newRow("login") << u"1 login 2148712345 482915"_s << true << 1 << u"login"_s
                               << QStringList{u"2148712345"_s, u"482915"_s};
        QTest::newRow("reader") << u"7 reader 9410120000000019"_s << true << 7 << u"reader"_s
                                << QStringList{u"9410120000000019"_s};
        QTest::newRow("blanks around") << u"  12   pay  "_s << true << 12 << u"pay"_s << QStringList{};
        QTest::newRow("amount and reason")
            << u"3 amount 45000 2"_s << true << 3 << u"amount"_s << QStringList{u"45000"_s, u"2"_s};
        QTest::newRow("dup yes") << u"4 dup yes"_s << true << 4 << u"dup"_s << QStringList{u"yes"_s};
        QTest::newRow("receipt no") << u"5 receipt no"_s << true << 5 << u"receipt"_s << QStringList{u"no"_s};
        QTest::newRow("mode 3") << u"6 mode 3"_s << true << 6 << u"mode"_s << QStringList{u"3"_s};
        QTest::newRow("journal cancel")
            << u"9 journal-cancel 14"_s << true << 9 << u"journal-cancel"_s << QStringList{u"14"_s};
        QTest::newRow("settle") << u"40 settle 60000"_s << true << 40 << u"settle"_s
                                << QStringList{u"60000"_s};
        // Refused: a merchant's action half understood is no action.
        QTest::newRow("no step") << u"pay"_s << false << 0 << QString() << QStringList{};
        QTest::newRow("negative step") << u"-1 pay"_s << false << 0 << QString() << QStringList{};
        QTest::newRow("unknown action") << u"2 dance"_s << false << 0 << QString() << QStringList{};
        QTest::newRow("card too short")
            << u"2 reader 941012000000001"_s << false << 0 << QString() << QStringList{};
        QTest::newRow("card with letters")
            << u"2 manual 94101200000000AB"_s << false << 0 << QString() << QStringList{};
        QTest::newRow("pay with argument") << u"2 pay now"_s << false << 0 << QString() << QStringList{};
        QTest::newRow("answer maybe") << u"2 dup maybe"_s << false << 0 << QString() << QStringList{};
        QTest::newRow("mode 4") << u"2 mode 4"_s << false << 0 << QString() << QStringList{};
        QTest::newRow("mode 0") << u"2 mode 0"_s << false << 0 << QString() << QStringList{};
        QTest::newRow("amount without reason")
            << u"2 amount 45000"_s << false << 0 << QString() << QStringList{};
        QTest::newRow("amount with separators")
            << u"2 amount 45,000 1"_s << false << 0 << QString() << QStringList{};
        QTest::newRow("wait too long a number")
            << u"2 wait 1234567890"_s << false << 0 << QString() << QStringList{};
        QTest::newRow("login missing number")
            << u"1 login 2148712345"_s << false << 0 << QString() << QStringList{};
    }
    void lines()
    {
        QFETCH(QString, line);
        QFETCH(bool, valid);
        const std::optional<OperatorAction> a = OperatorAction::parse(line);
        QCOMPARE(a.has_value(), valid);
        if (!a)
            return;
        QTEST(a->step, "step");
        QTEST(a->name, "name");
        QTEST(a->args, "args");
    }
};

QTEST_GUILESS_MAIN(TestOperatorScript)
#include "tst_operatorscript.moc"
