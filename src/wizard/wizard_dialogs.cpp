#include "wizard/wizard_dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace {

WizardDialogs* g_installed = nullptr;

}  // namespace

void QtWizardDialogs::Warning(QWidget* parent, const QString& text) {
  QMessageBox::warning(parent, QApplication::applicationName(), text, QMessageBox::Ok);
}

void QtWizardDialogs::Information(QWidget* parent, const QString& text) {
  QMessageBox::information(parent, QApplication::applicationName(), text, QMessageBox::Ok);
}

void QtWizardDialogs::Error(QWidget* parent, const QString& text) {
  QMessageBox::critical(parent, QApplication::applicationName(), text, QMessageBox::Ok);
}

bool QtWizardDialogs::Question(QWidget* parent, const QString& text) {
  return QMessageBox::question(parent, QApplication::applicationName(), text,
                               QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

std::optional<QString> QtWizardDialogs::AskText(QWidget* parent, const QString& text,
                                                const QString& offered) {
  bool ok = false;
  const QString typed = QInputDialog::getText(parent, QApplication::applicationName(), text,
                                              QLineEdit::Normal, offered, &ok);
  if (!ok) return std::nullopt;
  return typed;
}

std::optional<QString> QtWizardDialogs::OpenFileName(QWidget* parent, const QString& title,
                                                     const QString& folder, const QString& filter) {
  const QString name = QFileDialog::getOpenFileName(parent, title, folder, filter);
  if (name.isEmpty()) return std::nullopt;
  return name;
}

std::optional<QString> QtWizardDialogs::SaveFileName(QWidget* parent, const QString& title,
                                                     const QString& folder) {
  const QString name = QFileDialog::getSaveFileName(parent, title, folder, QString(), nullptr,
                                                    QFileDialog::DontConfirmOverwrite);
  if (name.isEmpty()) return std::nullopt;
  return name;
}

int QtWizardDialogs::ShowModal(QDialog& dialog) {
  return dialog.exec();
}

WizardDialogs& CurrentWizardDialogs() {
  static QtWizardDialogs qt_dialogs;
  return g_installed ? *g_installed : qt_dialogs;
}

void SetWizardDialogs(WizardDialogs* dialogs) {
  g_installed = dialogs;
}
