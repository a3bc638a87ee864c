#pragma once
// Points the service settings at a test server for the length of a test, with fresh shared state and
// a recording dialog.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "app/SharedState.h"
#include "service/CloudRelay.h"
#include "service/HttpClient.h"
#include "service/ShareFlow.h"
#include "support/RecordingMainDialog.h"
#include "support/TestEnv.h"

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_state.Home = m_dir.Path().string();
    m_state.Events.Attach(&m_dialog);
    m_state.HttpDiagnostics = false;
  }
  void TearDown() override {
    EXPECT_TRUE(m_uploads.WaitIdle(20000));
    m_state.ConfiguredRelay.Set("");
    m_state.ConfiguredUploadHost.Set("");
  }
  void UseHost(const std::string& host) {
    m_state.ConfiguredRelay.Set(host);
    m_state.ConfiguredUploadHost.Set(host);
  }
  void UseRefusingHost() { UseHost("127.0.0.1:" + std::to_string(RefusingPort())); }

  marlix_test::CTempWorkDir m_dir;
  CRecordingMainDialog m_dialog;
  SharedState m_state;
  CCloudRelay m_uploads{m_state};  // the relay uploads, counted in m_state
};
