// The online list and the message requests against a scripted server.
#include "request_fixture.h"
#include "streamed_block.h"

using MessageRequests = RequestTest;

namespace {
// Takes every message the way the front-end does: "sender: text" each.
std::vector<std::string> TakeAll() {
    std::vector<std::string> lines;
    while (TakeNextMessage() == 1)
        lines.push_back(GetMessageSender() + ": " + GetMessageText());
    return lines;
}
}  // namespace

TEST_F(MessageRequests, OnlineListIsTheServersTextOrEmpty) {
    AnswerWith("User_GetOnlineUserList", std::string("alice\n\rbob\n\r"));
    EXPECT_EQ(User_GetOnlineUserList(), "alice\n\rbob\n\r");
    EXPECT_FALSE(Submitted().at(0).WithList);
    EXPECT_EQ(Submitted().at(0).ReplyType, ReplyType_Text);

    AnswerWith("User_GetOnlineUserList", ErrorEvent{JobEvent_Denied});
    EXPECT_EQ(User_GetOnlineUserList(), "");
    EXPECT_EQ(GetLastErrorText(), "You have not the rights to do this request");
}

TEST_F(MessageRequests, SendOperationsPassTheirTextsUnchanged) {
    EXPECT_EQ(User_SendMessage("bob", "hi \xe4 there\r\n"), 1);
    AnswerWith("User_SendGlobalMessage", ErrorEvent{JobEvent_Limit});
    EXPECT_EQ(User_SendGlobalMessage("hello all"), 0);
    EXPECT_EQ(GetLastErrorText(), "Reached maximum parallel jobs limit");
    const auto received = Received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].Values, (ReceivedValues{"s:bob", "s:hi \xe4 there\r\n"}));
    EXPECT_EQ(received[1].Name, "User_SendGlobalMessage");
    EXPECT_EQ(received[1].Values, (ReceivedValues{"s:hello all"}));
}

TEST_F(MessageRequests, MessagesAreTakenOldestFirst) {
    EXPECT_EQ(GetMessageSender(), "") << "nothing taken yet";
    EXPECT_EQ(TakeNextMessage(), 0);
    Messages = {StreamedBlock(6, 6, std::string("alice\0hello\0", 12)), StreamedBlock(3, 0, "bob"),
                StreamedBlock(0, 4, "anon")};
    MessagesCount = 3;
    EXPECT_EQ(User_ReceiveMessages(), 3);
    EXPECT_FALSE(Submitted().at(0).WithList);
    EXPECT_EQ(Submitted().at(0).ReplyType, ReplyType_None);
    EXPECT_EQ(TakeAll(), (std::vector<std::string>{"alice: hello", "bob: ", ": anon"}));
    EXPECT_EQ(TakeNextMessage(), 0) << "a fourth call finds nothing";
    EXPECT_EQ(GetMessageText(), "anon") << "the last message taken stays readable";

    // The next collection starts afresh, also after everything was taken.
    Messages = {StreamedBlock(5, 4, "carolyes!")};
    MessagesCount = 1;
    EXPECT_EQ(User_ReceiveMessages(), 1);
    EXPECT_EQ(TakeAll(), (std::vector<std::string>{"carol: yes!"}));
}

TEST_F(MessageRequests, MessagesOfACountOfZeroWaitForTheNextCollection) {
    Messages = {StreamedBlock(5, 2, "alicehi")};
    MessagesCount = 0;
    EXPECT_EQ(User_ReceiveMessages(), 0);
    Messages = {StreamedBlock(3, 3, "bobyes")};
    MessagesCount = 1;
    EXPECT_EQ(User_ReceiveMessages(), 1);
    EXPECT_EQ(TakeAll(), (std::vector<std::string>{"alice: hi", "bob: yes"}));
}

TEST_F(MessageRequests, AnErrorKeepsThePreviousCountAndTheMessagesReceived) {
    Messages = {};
    MessagesCount = 4;
    EXPECT_EQ(User_ReceiveMessages(), 4);
    Messages = {StreamedBlock(5, 2, "alicehi")};
    MessagesError = JobEvent_Failed;
    EXPECT_EQ(User_ReceiveMessages(), 4);
    EXPECT_EQ(GetLastErrorText(), "An error occurred during your last request");
    EXPECT_EQ(TakeAll(), (std::vector<std::string>{"alice: hi"}));
}

TEST_F(MessageRequests, AMalformedMessageIsDroppedAndTheOthersArrive) {
    Messages = {StreamedBlock(40, 2, "alicehi"), StreamedBlock(-1, 2, "hi"),
                StreamedBlock(3, 2, "bobhi")};
    MessagesCount = 3;
    EXPECT_EQ(User_ReceiveMessages(), 3);
    EXPECT_EQ(TakeAll(), (std::vector<std::string>{"bob: hi"}));
}

TEST_F(MessageRequests, ARefusedCollectionGivesZero) {
    RefuseSubmissionOf("User_ReceiveMessages");
    EXPECT_EQ(User_ReceiveMessages(), 0);
    EXPECT_NE(GetLastErrorText(), "");
    EXPECT_TRUE(Received().empty());
}
