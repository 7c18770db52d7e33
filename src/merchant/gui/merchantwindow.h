#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace sorna {

// The merchant information window ("Form4"): name, number, telephone and
// address as kept in Kolbrin.ini.  Ctrl+S saves the print flag there.
class MerchantWindow : public QDialog
{
    Q_OBJECT
public:
    explicit MerchantWindow(QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* txtName = nullptr;
    QLineEdit* txtNumber = nullptr;
    QLineEdit* txtTelephone = nullptr;
    QPlainTextEdit* txtAddress = nullptr;

    // Records the print flag in Kolbrin.ini: the flag the login keeps in
    // Sorna_setting.ini, "1" when there is none.
    void SaveMerchantInfo();
    static QString printFlag();
};

} // namespace sorna
