#pragma once

#include "hostlink/hostsocket.h"
#include "transaction/gui/mainwindow.h"

#include <QCalendarWidget>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

namespace sorna::test {

// The main window's controls, found by the names the counter uses, as a
// merchant's eye and hand reach them.
struct MainControls
{
    explicit MainControls(const QWidget* form)
    {
        const auto find = [form](auto*& control, const char* name) {
            using T = std::remove_pointer_t<std::remove_reference_t<decltype(control)>>;
            control = form ? form->findChild<T*>(QString::fromLatin1(name)) : nullptr;
        };
        find(lstResult, "lstResult");
        find(Command6, "Command6");
        find(btnLogout, "btnLogout");
        find(Text1, "Text1");
        find(timeMain, "timeMain");
        find(sckMain, "sckMain");
        find(Option1, "Option1");
        find(Option2, "Option2");
        find(Option3, "Option3");
        find(Command1, "Command1");
        find(Command2, "Command2");
        find(Command3, "Command3");
        find(Command4, "Command4");
        find(Card1, "Card1");
        find(Card2, "Card2");
        find(Card3, "Card3");
        find(Card4, "Card4");
        find(cmbCare1, "cmbCare1");
        find(txtTeacher1, "txtTeacher1");
        find(txtCare_Amount1, "txtCare_Amount1");
        find(Combo1, "Combo1");
        find(txtreson, "txtreson");
        find(txtOrg_approval_no, "txtOrg_approval_no");
        find(txtOrg_auth_date, "txtOrg_auth_date");
        find(MonthView1, "MonthView1");
    }

    QListWidget* lstResult = nullptr;
    QPushButton* Command6 = nullptr;
    QPushButton* btnLogout = nullptr;
    QLineEdit* Text1 = nullptr;
    QTimer* timeMain = nullptr;
    HostSocket* sckMain = nullptr;
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
    QRadioButton* Option3 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command4 = nullptr;
    QLineEdit* Card1 = nullptr;
    QLineEdit* Card2 = nullptr;
    QLineEdit* Card3 = nullptr;
    QLineEdit* Card4 = nullptr;
    QComboBox* cmbCare1 = nullptr;
    QLineEdit* txtTeacher1 = nullptr;
    QLineEdit* txtCare_Amount1 = nullptr;
    QComboBox* Combo1 = nullptr;
    QLineEdit* txtreson = nullptr;
    QLineEdit* txtOrg_approval_no = nullptr;
    QLineEdit* txtOrg_auth_date = nullptr;
    QCalendarWidget* MonthView1 = nullptr;
};

inline MainControls ui(const QWidget* form)
{
    return MainControls(form);
}

} // namespace sorna::test

namespace sorna::test {

// A card inquiry answer the host accepted, with these items; the other
// fields blank.
inline CardInquiryAnswer acceptedCard(const std::array<TherapyItem, kTherapyItemCount>& items,
                                      const QString& student = QString())
{
    CardInquiryAnswer a;
    for (QString& v : a.record.values)
        v = QString();
    a.record[tx::resp_code] = QStringLiteral("00");
    a.record[tx::student_name] = student;
    a.items = items;
    return a;
}

} // namespace sorna::test
