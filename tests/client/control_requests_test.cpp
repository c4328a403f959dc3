// Administration requests against a scripted server: digests, parameter order, null lists and the
// rules of the composite kick-and-ban.
#include "request_fixture.h"

using ControlRequests = RequestTest;

TEST_F(ControlRequests, PasswordsGoAsDigests) {
    AnswerWith("Control_Start", 2);
    EXPECT_EQ(Control_Start(""), 2);
    EXPECT_EQ(Control_Start("secret"), 2);
    EXPECT_EQ(Control_ChangePassword(""), 1);
    EXPECT_EQ(Control_ChangePassword("12345678"), 1);
    const auto received = Received();
    ASSERT_EQ(received.size(), 4u);
    EXPECT_EQ(received[0].Values, (ReceivedValues{"s:d41d8cd98f00b204e9800998ecf8427e"}));
    EXPECT_EQ(received[1].Values, (ReceivedValues{"s:5ebe2294ecd0e0f08eab7690d2a6ee69"}));
    EXPECT_EQ(received[2].Values, (ReceivedValues{"s:d41d8cd98f00b204e9800998ecf8427e"}));
    EXPECT_EQ(received[3].Name, "Control_ChangePassword");
    EXPECT_EQ(received[3].Values, (ReceivedValues{"s:25d55ad283aa400af464c76d713c07ad"}));
}

TEST_F(ControlRequests, EachJobCarriesItsParametersInOrder) {
    AnswerWith("Control_KickUser", 5);
    AnswerWith("Control_ForceLogin", 4);
    EXPECT_EQ(Control_Stop(), 1);
    EXPECT_EQ(Control_StopServer(), 1);
    EXPECT_EQ(Control_KickUser(""), 5) << "an empty name is sent as it is";
    EXPECT_EQ(Control_BannUser("bob", 1, 3), 1);
    EXPECT_EQ(Control_BannUser("bob", 0, 3), 1);
    EXPECT_EQ(Control_ForceLogin("carol"), 4);

    const auto submitted = Submitted();
    ASSERT_EQ(submitted.size(), 6u);
    EXPECT_FALSE(submitted[0].WithList) << "Control_Stop";
    EXPECT_FALSE(submitted[1].WithList) << "Control_StopServer";
    for (const SubmittedJob &job : submitted)
        EXPECT_EQ(job.ReplyType, ReplyType_Long) << job.Name;

    const auto received = Received();
    ASSERT_EQ(received.size(), 6u);
    EXPECT_EQ(received[2].Values, (ReceivedValues{"s:"}));
    EXPECT_EQ(received[3].Values, (ReceivedValues{"s:bob", "l:3", "l:1"}));
    EXPECT_EQ(received[4].Values, (ReceivedValues{"s:bob", "l:3", "l:0"}));
    EXPECT_EQ(received[5].Values, (ReceivedValues{"s:carol"}));
}

TEST_F(ControlRequests, KickAndBanCountsEveryAnswer) {
    // A refusal of the kick is still an answer: the ban follows.
    AnswerWith("Control_KickUser", 3);
    AnswerWith("Control_BannUser", 3);
    EXPECT_EQ(Control_KickBannUser("bob", 1, 3), 1);
    EXPECT_EQ(SubmittedNames(), (std::vector<std::string>{"Control_KickUser", "Control_BannUser"}));
    EXPECT_EQ(Received()[1].Values, (ReceivedValues{"s:bob", "l:3", "l:1"}));

    // A ban that fails makes the whole fail.
    ClearRecords();
    AnswerWith("Control_BannUser", ErrorEvent{JobEvent_Denied});
    EXPECT_EQ(Control_KickBannUser("bob", 0, 3), 0);
    EXPECT_EQ(Submitted().size(), 2u);
}

TEST_F(ControlRequests, KickAndBanSendsNoBanAfterAFailedKick) {
    RefuseSubmissionOf("Control_KickUser");
    SetLastError("");
    EXPECT_EQ(Control_KickBannUser("bob", 1, 3), 0);
    EXPECT_EQ(SubmittedNames(), std::vector<std::string>{"Control_KickUser"});
    EXPECT_NE(GetLastErrorText(), "") << "the library's text of the refusal";

    ClearRecords();
    AcceptAllSubmissions();
    AnswerWith("Control_KickUser", ErrorEvent{JobEvent_Invalid});
    EXPECT_EQ(Control_KickBannUser("bob", 1, 3), 0);
    EXPECT_EQ(SubmittedNames(), std::vector<std::string>{"Control_KickUser"});
    EXPECT_EQ(GetLastErrorText(), "You have done an invalid request");
}
