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
    m_state.MainDialog = &m_dialog;
    SetHttpClientDiagnostics(false);
  }
  void TearDown() override {
    EXPECT_TRUE(WaitCloudRelayIdle(20000));
    CloudRelayDetachDialog();
    unsetenv("MARLIX_SERVICE_HOST");
    unsetenv("MARLIX_UPLOAD_HOST");
    SetHttpClientDiagnostics(true);
  }
  void UseHost(const std::string& host) {
    setenv("MARLIX_SERVICE_HOST", host.c_str(), 1);
    setenv("MARLIX_UPLOAD_HOST", host.c_str(), 1);
  }
  void UseRefusingHost() { UseHost("127.0.0.1:" + std::to_string(RefusingPort())); }

  marlix_test::CTempWorkDir m_dir;
  CRecordingMainDialog m_dialog;
  SharedState m_state;  // outlives the relay uploads: TearDown waits for them
};
