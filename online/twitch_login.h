// `setlist login twitch --client-id ID [--auth-url URL] [--name NAME] [--accounts FILE]`:
// Twitch's device code flow for a public client, which stores the tokens of the chat in
// the accounts file.
#pragma once

// argv[0] is "twitch". An exit status.
int loginTwitch(int argc, char** argv);
