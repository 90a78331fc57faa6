#pragma once
// Told by the shared settings dialog that it was closed with OK; the panel that reserved it
// then reads the values out of the dialog. The dialog never deletes its listener, hence no
// virtual destructor is needed -- the protected one keeps anyone from trying.
class CSettingDlgListener {
public:
  virtual void onSettingOk() = 0;

protected:
  ~CSettingDlgListener() = default;
};
