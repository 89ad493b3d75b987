// TSavePrefsForm: the modal dialog that asks where the settings go when the
// program closes without a store mode. It only records the choice.
//
// UI thread only. Owned by the preferences component.
#pragma once

#include "uPreferences.h"

#include <QDialog>

class TLinkEdit;
class QPushButton;

class TSavePrefsForm : public QDialog {
    Q_OBJECT
public:
    explicit TSavePrefsForm(QWidget *parent = nullptr);

    TLinkEdit *LinkEdit1 = nullptr;
    QPushButton *NormalBtn = nullptr;
    QPushButton *PortableBtn = nullptr;
    QPushButton *AucunBtn = nullptr;

    bool chosen = false;
    TSavePreferences choice = spNone;

private:
    void FormCreate();
    void Choose(TSavePreferences mode);
};
