// What the listing's exports need of the search: its matches are forgotten with the file searched.
#pragma once

// Forgets the last search (what it looked for and its matches), giving their memory back.
void forget_search();
