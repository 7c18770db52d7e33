#include "merchant/gui/merchantwindow.h"

#include "foundation/gui/look.h"
#include "foundation/gui/messagebox.h"
#include "foundation/paths.h"
#include "foundation/settings.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QShortcut>

namespace sorna {

MerchantWindow::MerchantWindow(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QString(u' '));
    setFixedSize(look::twips(5100), look::twips(2505));
    setFont(look::uiFont(9));

    auto label = [this](QLabel*& l, const char* name, const QString& text, int left, int top, int width) {
        l = new QLabel(text, this);
        l->setObjectName(QString::fromLatin1(name));
        look::place(l, left, top, width, 195);
    };
    label(Label1, "Label1", QStringLiteral("가맹점명"), 240, 240, 915);
    label(Label2, "Label2", QStringLiteral("가맹점번호"), 180, 720, 1215);
    label(Label3, "Label3", QStringLiteral("가맹점 전화번호"), 180, 1200, 1335);
    label(Label4, "Label4", QStringLiteral("가맹점주소"), 180, 1680, 975);

    auto box = [this](QLineEdit*& e, const char* name, int top) {
        e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        look::place(e, 1620, top, 3255, 315);
    };
    box(txtName, "txtName", 180);
    box(txtNumber, "txtNumber", 660);
    box(txtTelephone, "txtTelephone", 1140);
    txtAddress = new QPlainTextEdit(this);
    txtAddress->setObjectName(QStringLiteral("txtAddress"));
    look::place(txtAddress, 1620, 1620, 3255, 675);
    setTabOrder(txtName, txtNumber);
    setTabOrder(txtNumber, txtTelephone);
    setTabOrder(txtTelephone, txtAddress);

    // Form_Load
    const QString file = paths::merchantInfoFile();
    const QString section = QStringLiteral("ComInfo");
    txtName->setText(ReadSetting(section, QStringLiteral("Name"), file));
    txtNumber->setText(ReadSetting(section, QStringLiteral("Number"), file));
    txtTelephone->setText(ReadSetting(section, QStringLiteral("Telephone"), file));
    txtAddress->setPlainText(ReadSetting(section, QStringLiteral("Address"), file));

    auto* save = new QShortcut(QKeySequence::Save, this);
    connect(save, &QShortcut::activated, this, &MerchantWindow::SaveMerchantInfo);
}

QString MerchantWindow::printFlag()
{
    const QString flag =
        ReadSetting(QStringLiteral("ComInfo"), QStringLiteral("Print"), paths::settingsFile());
    return flag.isEmpty() ? QStringLiteral("1") : flag;
}

void MerchantWindow::SaveMerchantInfo()
{
    const QString caption = QStringLiteral("루벤타카드 승인 시스템");
    const QString file = paths::merchantInfoFile();
    if (!WriteSetting(QStringLiteral("ComInfo"), QStringLiteral("Print"), printFlag(), file)) {
        // Never "saved" for what was not: the window stays for another try.
        MessageBox::show(this, QStringLiteral("저장할 수 없습니다") + u'\n' + file, MessageBox::Icon::Warning,
                         caption);
        return;
    }
    MessageBox::show(this, QStringLiteral("저장되었습니다"), MessageBox::Icon::None, caption);
    accept();
}

} // namespace sorna
