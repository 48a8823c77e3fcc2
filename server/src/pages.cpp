#include "pages.h"

#include <algorithm>
#include <cstdio>

#include "http_text.h"
#include "publisher.h"

namespace vellix::server {
namespace {

std::string Head(const std::string& title) {
  return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
         EscapeHtml(title) +
         "</title>\n<link rel=\"stylesheet\" href=\"/static/style.css\">\n"
         "<link rel=\"alternate\" type=\"application/atom+xml;profile=opds-catalog;kind=navigation\" "
         "href=\"/opds\" title=\"OPDS catalogue\">\n"
         "<script src=\"/static/app.js\" defer></script>\n</head>\n";
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

bool Matches(const BookEntry& book, const std::string& needle) {
  if (needle.empty()) return true;
  for (const std::string* field : {&book.title_key, &book.author_key, &book.category_key})
    if (field->find(needle) != std::string::npos) return true;
  return false;
}

std::string SortLink(const CatalogueQuery& query, const std::string& column, const std::string& label) {
  const bool current = query.sort == column;
  const bool next_descending = current && !query.descending;
  std::string href = "/?sort=" + column + (next_descending ? "&amp;order=desc" : "");
  if (!query.search.empty()) href += "&amp;q=" + EncodeUrlPart(query.search);
  std::string mark = current ? (query.descending ? " \xE2\x96\xBE" : " \xE2\x96\xB4") : "";
  std::string aria = current ? (query.descending ? " aria-sort=\"descending\"" : " aria-sort=\"ascending\"") : "";
  return "<th scope=\"col\"" + aria + "><a href=\"" + href + "\">" + label + mark + "</a></th>";
}

std::string PublishForm() {
  return R"(<section id="publish">
<h2>Publish a document</h2>
<form id="publish-form" method="post" action="/publish" enctype="multipart/form-data">
<p><label for="file">Document ()" +
         Publisher::AcceptedKindsText() + R"()</label>
<input id="file" name="file" type="file" required></p>
<p><label for="title">Title</label> <input id="title" name="title" type="text"></p>
<p><label for="author">Author</label> <input id="author" name="author" type="text"></p>
<p><label for="category">Category</label> <input id="category" name="category" type="text"></p>
<p><label for="token">Upload token</label> <input id="token" name="token" type="password" required autocomplete="off"></p>
<p><button type="submit">Publish</button> <progress id="upload-progress" max="100" value="0" hidden></progress></p>
</form>
<ol id="publish-events" aria-live="polite"></ol>
</section>
)";
}

}  // namespace

std::string ReadableSize(uint64_t bytes) {
  char text[32];
  if (bytes < uint64_t{1024} * 1024)
    std::snprintf(text, sizeof text, "%llu KB", static_cast<unsigned long long>((bytes + 1023) / 1024));
  else
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}

std::string CataloguePage(const ShelfSnapshot& shelf, const CatalogueQuery& query, bool upload_enabled) {
  const std::string needle = Lower(query.search);
  std::vector<const BookEntry*> rows;
  rows.reserve(shelf.books.size());
  for (const auto& book : shelf.books)
    if (Matches(*book, needle)) rows.push_back(book.get());
  auto key = [&](const BookEntry* b) -> const std::string& {
    if (query.sort == "author") return b->author_key;
    if (query.sort == "category") return b->category_key;
    return b->title_key;
  };
  std::stable_sort(rows.begin(), rows.end(), [&](const BookEntry* a, const BookEntry* b) {
    if (query.sort == "size") return query.descending ? a->size > b->size : a->size < b->size;
    return query.descending ? key(a) > key(b) : key(a) < key(b);
  });

  std::string html = Head("Bookshelf");
  html.reserve(html.size() + rows.size() * 400);
  html += "<body class=\"catalogue\">\n<header>\n<h1>Bookshelf</h1>\n";
  html += "<form id=\"search\" method=\"get\" action=\"/\" role=\"search\">\n";
  html += "<label for=\"q\">Search</label> <input id=\"q\" name=\"q\" type=\"search\" value=\"" +
          EscapeHtml(query.search) + "\" placeholder=\"Title, author or category\">\n";
  html += "<input type=\"hidden\" name=\"sort\" value=\"" + EscapeHtml(query.sort) + "\">\n";
  if (query.descending) html += "<input type=\"hidden\" name=\"order\" value=\"desc\">\n";
  html += "<button type=\"submit\">Search</button>\n</form>\n";
  html += "<p id=\"count\" data-total=\"" + std::to_string(shelf.books.size()) + "\">" + std::to_string(rows.size()) +
          (rows.size() == 1 ? " book" : " books") +
          (rows.size() != shelf.books.size() ? " of " + std::to_string(shelf.books.size()) : "") + "</p>\n";
  html +=
      "</header>\n<main>\n<table id=\"books\">\n<thead><tr><th scope=\"col\"><span class=\"hidden\">Cover</span></th>";
  html += SortLink(query, "title", "Title") + SortLink(query, "author", "Author") +
          SortLink(query, "category", "Category") + SortLink(query, "size", "Size");
  html += "<th scope=\"col\"><span class=\"hidden\">Download</span></th>";
  html += "</tr></thead>\n<tbody>\n";
  for (const BookEntry* book : rows) {
    const std::string href = "/books/" + EncodeUrlPart(book->id);
    html += "<tr><td class=\"cover\"><a href=\"" + href + "\" tabindex=\"-1\"><img src=\"" + href +
            "/thumbnail.png\" loading=\"lazy\" alt=\"\" width=\"60\" height=\"80\"></a></td>";
    html += "<td class=\"title\"><a href=\"" + href + "\">" + EscapeHtml(book->title_text) + "</a></td>";
    html += "<td class=\"author\">" + EscapeHtml(book->author_text) + "</td>";
    html += "<td class=\"category\">" + EscapeHtml(book->category_text) + "</td>";
    html +=
        "<td class=\"size\" data-bytes=\"" + std::to_string(book->size) + "\">" + ReadableSize(book->size) + "</td>";
    html +=
        "<td class=\"epub\"><a href=\"" + href + ".epub\" type=\"application/epub+zip\" download>EPUB</a></td></tr>\n";
  }
  html += "</tbody>\n</table>\n";
  if (rows.empty()) html += "<p id=\"empty\">No book matches.</p>\n";
  html += "</main>\n";
  if (upload_enabled) html += PublishForm();
  html +=
      "<footer><p>For devices: <a href=\"/list.txt\">bookshelf text</a>, <a href=\"/booklist.txt\">book "
      "list</a>. For reader apps: <a href=\"/opds\">OPDS catalogue</a>.</p></footer>\n";
  html += "</body>\n</html>\n";
  return html;
}

std::string BookPage(const BookEntry& book, const ReaderView& view) {
  const std::string base = "/books/" + EncodeUrlPart(book.id);
  std::string html = Head(book.title_text + " - Bookshelf");
  html += "<body class=\"book\">\n<header><p><a href=\"/\">Bookshelf</a></p>\n<h1>" + EscapeHtml(book.title_text) +
          "</h1></header>\n<main>\n<dl class=\"meta\">\n";
  auto row = [&](const char* name, const std::string& value) {
    html += std::string("<dt>") + name + "</dt><dd>" + EscapeHtml(value) + "</dd>\n";
  };
  row("Author", book.author_text);
  row("Category", book.category_text);
  row("Identifier", book.book_id);
  row("Size", ReadableSize(book.size) + " (" + std::to_string(book.size) + " bytes)");
  row("File", book.file_name);
  html += "</dl>\n<p><a class=\"download\" href=\"/books/" + EncodeUrlPart(book.file_name) + "\" download>Download " +
          EscapeHtml(book.file_name) + "</a> <a class=\"download epub\" href=\"" + base +
          ".epub\" type=\"application/epub+zip\" download>Download as EPUB</a></p>\n";
  html += "<section id=\"reader\" aria-label=\"Reader\">\n";
  if (view.page_count <= 0) {
    html += "<p class=\"error\">This book cannot be shown here: " + EscapeHtml(view.layout_error) + "</p>\n";
  } else {
    const std::string position = "Page " + std::to_string(view.page) + " of " + std::to_string(view.page_count);
    auto link = [&](int page, const char* rel, const char* label) {
      if (page < 1 || page > view.page_count)
        return std::string("<span class=\"") + rel + " disabled\">" + label + "</span>";
      return std::string("<a id=\"") + rel + "\" rel=\"" + rel + "\" href=\"" + base + "?page=" + std::to_string(page) +
             view.reader_query + "\">" + label + "</a>";
    };
    html += "<nav class=\"pager\">" + link(view.page - 1, "prev", "\xE2\x86\x90 Previous") + " <span id=\"position\">" +
            position + "</span> " + link(view.page + 1, "next", "Next \xE2\x86\x92") + "</nav>\n";
    html += "<figure><img id=\"page\" src=\"" + base + "/pages/" + std::to_string(view.page) + ".png" +
            view.image_query + "\" alt=\"" + position + "\"></figure>\n";
  }
  html += "</section>\n</main>\n</body>\n</html>\n";
  return html;
}

std::string PublishStatusPage(const std::string& job_id, const std::string& file_name) {
  std::string html = Head("Publishing " + file_name);
  html += "<body class=\"publish\">\n<header><p><a href=\"/\">Bookshelf</a></p><h1>Publishing " +
          EscapeHtml(file_name) +
          "</h1></header>\n<main>\n<p>The document is being published. Its events: <a "
          "href=\"/publish/" +
          EncodeUrlPart(job_id) +
          "/events\">event stream</a>. The book appears on the <a href=\"/\">shelf</a> when "
          "done.</p>\n</main>\n</body>\n</html>\n";
  return html;
}

std::string NotFoundPage() {
  return Head("Not found") +
         "<body>\n<h1>Not found</h1>\n<p>There is no such book or page. <a href=\"/\">The shelf</a>.</p>\n</body>\n"
         "</html>\n";
}

const char kStyleSheet[] =
    R"(body { font-family: sans-serif; margin: 0 auto; max-width: 70em; padding: 0 1em; color: #222; }
header h1 { margin-bottom: .3em; }
#search input[type=search] { width: 20em; }
table#books { border-collapse: collapse; width: 100%; }
table#books th, table#books td { text-align: left; padding: .3em .5em; border-bottom: 1px solid #ddd; vertical-align: middle; }
table#books td.size { text-align: right; white-space: nowrap; }
table#books img { border: 1px solid #ccc; background: #fff; }
.hidden { position: absolute; left: -9999px; }
dl.meta { display: grid; grid-template-columns: max-content 1fr; gap: .2em 1em; }
dl.meta dt { font-weight: bold; }
.pager { margin: 1em 0; font-size: 1.1em; }
.pager .disabled { color: #999; }
#reader figure { margin: 0; }
#reader img { border: 1px solid #999; max-width: 100%; height: auto; }
#publish { margin-top: 2em; border-top: 2px solid #ccc; }
#publish-events li.error { color: #a00; }
footer { margin: 2em 0; color: #555; }
.error { color: #a00; }
)";

const char kScript[] = R"(// Only adds to pages that work without it.
(function () {
  'use strict';
  function filterRows() {
    var box = document.getElementById('q');
    var table = document.getElementById('books');
    var count = document.getElementById('count');
    if (!box || !table || !count) return;
    var words = box.value.toLowerCase().trim();
    var rows = table.tBodies[0].rows;
    var shown = 0;
    for (var i = 0; i < rows.length; i++) {
      var text = '';
      for (var c = 1; c < 4; c++) text += ' ' + rows[i].cells[c].textContent.toLowerCase();
      var match = text.indexOf(words) !== -1;
      rows[i].hidden = !match;
      if (match) shown++;
    }
    var total = rows.length;
    count.textContent = shown + (shown === 1 ? ' book' : ' books') + (shown !== total ? ' of ' + total : '');
  }

  function bindSearch() {
    var box = document.getElementById('q');
    if (box) box.addEventListener('input', filterRows);
  }

  function bindReader() {
    if (!document.getElementById('reader')) return;
    document.addEventListener('keydown', function (e) {
      if (e.altKey || e.ctrlKey || e.metaKey) return;
      var target = e.target && e.target.tagName;
      if (target === 'INPUT' || target === 'TEXTAREA') return;
      var link = null;
      if (e.key === 'ArrowRight' || e.key === 'PageDown') link = document.getElementById('next');
      if (e.key === 'ArrowLeft' || e.key === 'PageUp') link = document.getElementById('prev');
      if (link) { e.preventDefault(); window.location.href = link.href; }
    });
  }

  function addEvent(list, text, kind) {
    var item = document.createElement('li');
    item.textContent = text;
    if (kind) item.className = kind;
    list.appendChild(item);
  }

  function bindPublish() {
    var form = document.getElementById('publish-form');
    if (!form || !window.XMLHttpRequest || !window.EventSource) return;
    form.addEventListener('submit', function (e) {
      e.preventDefault();
      var bar = document.getElementById('upload-progress');
      var list = document.getElementById('publish-events');
      list.textContent = '';
      bar.hidden = false;
      bar.value = 0;
      var request = new XMLHttpRequest();
      request.open('POST', '/publish');
      request.setRequestHeader('Accept', 'application/json');
      request.upload.addEventListener('progress', function (p) {
        if (p.lengthComputable) bar.value = Math.round(100 * p.loaded / p.total);
      });
      request.addEventListener('load', function () {
        var answer = {};
        try { answer = JSON.parse(request.responseText); } catch (ignored) {}
        if (request.status !== 202) {
          addEvent(list, 'Refused (' + request.status + '): ' + (answer.error || request.statusText), 'error');
          return;
        }
        bar.value = 100;
        addEvent(list, 'Uploaded; publishing...');
        var source = new EventSource(answer.events);
        source.addEventListener('source', function (m) {
          var d = JSON.parse(m.data);
          addEvent(list, 'Source ' + d.number + ' of ' + d.total + ': ' + d.file);
        });
        source.addEventListener('progress', function (m) {
          var d = JSON.parse(m.data);
          if (d.total > 0) bar.value = Math.round(100 * d.done / d.total);
        });
        source.addEventListener('error-event', function (m) {
          var d = JSON.parse(m.data);
          addEvent(list, d.file + ':' + d.line + ':' + d.column + ': ' + d.message, 'error');
        });
        source.addEventListener('done', function (m) {
          var d = JSON.parse(m.data);
          source.close();
          if (d.ok) {
            var item = document.createElement('li');
            item.className = 'done';
            var link = document.createElement('a');
            link.href = d.page;
            link.textContent = 'Published: ' + d.title;
            item.appendChild(link);
            list.appendChild(item);
          } else {
            addEvent(list, 'Failed: ' + d.error, 'error');
          }
        });
        source.onerror = function () { source.close(); };
      });
      request.addEventListener('error', function () { addEvent(list, 'The upload failed.', 'error'); });
      request.send(new FormData(form));
    });
  }

  document.addEventListener('DOMContentLoaded', function () {
    bindSearch();
    bindReader();
    bindPublish();
  });
})();
)";

}  // namespace vellix::server
