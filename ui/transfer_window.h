#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "base/transfer_view.h"

namespace quenlo {

// frmTarvos: the window of one transfer run. It shows what the engine writes and passes its
// button's clicks and its timer's ticks back; it holds no transfer logic.
class TransferWindow : public QWidget, public TransferView {
  public:
    explicit TransferWindow(QWidget* parent = nullptr);

    void Show(TransferWindowEvents& events) override;
    void Unload() override;
    void SetStatus(const std::string& text) override;
    void SetFile(const std::string& text) override;
    void SetRecordCount(const std::string& text) override;
    void SetRecords(const std::string& text) override;
    void SetProgress(int percent) override;
    void SetComplete(const std::string& text) override;
    void SetMessage(const std::string& text) override;
    void SetMessageVisible(bool visible) override;
    void SetButtonCaption(const std::string& text) override;
    void FocusButton() override;
    void SetAboutEnabled(bool enabled) override;
    void SetTimerEnabled(bool enabled) override;
    void SetReason(const std::string& text) override;

    // Exit during a run: cancels it now and clicks the OK that follows, so the run ends without
    // waiting for the operator.
    void Abandon();

    QPushButton* commandButton() const { return commandButton_; }

  protected:
    // The title bar's close button does what the window's own button does; the window itself
    // closes only when the run ends, so the engine never waits on a window nobody can see.
    void closeEvent(QCloseEvent* event) override;

  private:
    // The constructor's steps, in order; then the design-time texts.
    void CreateControls();
    void LayOutControls();
    void ConnectControls();
    void LoadDesignTexts();

    TransferWindowEvents* events_ = nullptr;
    QLineEdit* statusBox_ = nullptr;
    QLineEdit* fileBox_ = nullptr;
    QLineEdit* recCntBox_ = nullptr;
    QLineEdit* recordsBox_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QLabel* complete_ = nullptr;
    QLabel* msgLabel_ = nullptr;
    QLabel* reason_ = nullptr;
    QPushButton* commandButton_ = nullptr;
    QPushButton* aboutButton_ = nullptr;
    QLabel* notice_ = nullptr;
    QTimer* ymodemTimer_ = nullptr;
    bool abandoned_ = false;
};

}  // namespace quenlo
