-- oxle schema: reading-list items, lists, shared-list membership, per-member item states and invitations.
-- Plain SQL that applies unchanged to a hosted project (run it as the project's owner role) and to the local
-- backend. Re-running it is harmless. Timestamps are epoch milliseconds written by the client; ids are text.

-- ---------------------------------------------------------------------------------------------------------
-- Tables

create table if not exists public.categories (
    id text primary key,
    user_id text not null default (auth.uid())::text,
    name text not null,
    color text,
    icon text,
    schedule_enabled boolean not null default false,
    schedule_time_of_day text,
    schedule_days integer[] not null default '{}',
    sort_order integer not null default 0,
    is_system boolean not null default false,
    reminder_alarm boolean not null default false,
    is_locked boolean not null default false,
    created_at bigint not null default (extract(epoch from clock_timestamp()) * 1000)::bigint,
    updated_at bigint not null default (extract(epoch from clock_timestamp()) * 1000)::bigint,
    deleted_at bigint,
    -- A default list id ("sb_" + user id) belongs to that user and nobody else, whoever writes it.
    constraint categories_default_list_owner check (id not like 'sb\_%' or id = 'sb_' || user_id)
);

create table if not exists public.items (
    id text primary key,
    user_id text not null default (auth.uid())::text,
    url text not null default '',
    canonical_url text,
    title text,
    note text,
    source_domain text,
    content_type text not null default 'link',
    category_id text,
    status text not null default 'queued',
    enrichment_status text not null default 'pending',
    reminder_alarm boolean not null default false,
    skip_count integer not null default 0,
    snooze_count integer not null default 0,
    thumbnail_url text,
    reminder_override_at bigint,
    completed_at bigint,
    deleted_at bigint,
    created_at bigint not null default (extract(epoch from clock_timestamp()) * 1000)::bigint,
    updated_at bigint not null default (extract(epoch from clock_timestamp()) * 1000)::bigint,
    constraint items_status_check check (status in ('queued', 'done', 'inbox')),
    constraint items_enrichment_status_check check (enrichment_status in ('pending', 'enriched', 'failed'))
);

create table if not exists public.category_members (
    category_id text not null references public.categories (id) on delete cascade,
    user_id text not null,
    created_at bigint not null default (extract(epoch from clock_timestamp()) * 1000)::bigint,
    primary key (category_id, user_id)
);

create table if not exists public.item_states (
    shared_item_id text not null,
    user_id text not null default (auth.uid())::text,
    -- Rows first created by a reminder or a removal carry no status; a missing state means "queued".
    status text not null default 'queued',
    completed_at bigint,
    reminder_override_at bigint,
    deleted_at bigint,
    created_at bigint not null default (extract(epoch from clock_timestamp()) * 1000)::bigint,
    updated_at bigint not null default (extract(epoch from clock_timestamp()) * 1000)::bigint,
    primary key (shared_item_id, user_id),
    constraint item_states_status_check check (status in ('queued', 'done', 'inbox'))
);

create table if not exists public.invites (
    code text primary key,
    category_id text not null references public.categories (id) on delete cascade,
    created_by text not null,
    created_at bigint not null default (extract(epoch from clock_timestamp()) * 1000)::bigint,
    expires_at bigint not null,
    constraint invites_code_format check (code ~ '^[A-Z0-9]+$')
);

-- ---------------------------------------------------------------------------------------------------------
-- Indexes for the client's reads (own rows by user, then list / canonical link / time)

create index if not exists items_user_canonical_idx on public.items (user_id, canonical_url);
create index if not exists items_user_category_created_idx on public.items (user_id, category_id, created_at desc);
create index if not exists items_user_created_idx on public.items (user_id, created_at desc);
create index if not exists items_category_created_idx on public.items (category_id, created_at desc);
create index if not exists items_pending_enrichment_idx on public.items (created_at) where enrichment_status = 'pending';
create index if not exists categories_user_order_idx on public.categories (user_id, sort_order, created_at);
create index if not exists category_members_user_idx on public.category_members (user_id);
create index if not exists item_states_user_reminder_idx on public.item_states (user_id)
    where reminder_override_at is not null;
create index if not exists invites_category_idx on public.invites (category_id);

-- ---------------------------------------------------------------------------------------------------------
-- Row-level security: every row belongs to one user; list members additionally read the list row.
-- "(select auth.uid())" is evaluated once per statement instead of once per row.

alter table public.categories enable row level security;
alter table public.items enable row level security;
alter table public.category_members enable row level security;
alter table public.item_states enable row level security;
alter table public.invites enable row level security;

drop policy if exists categories_select on public.categories;
create policy categories_select on public.categories for select to authenticated
    using (user_id = (select auth.uid())::text
           or exists (select 1 from public.category_members m
                      where m.category_id = categories.id and m.user_id = (select auth.uid())::text));
drop policy if exists categories_insert on public.categories;
create policy categories_insert on public.categories for insert to authenticated
    with check (user_id = (select auth.uid())::text);
-- An upsert that hits another user's id fails here (USING on the existing row) instead of taking it over.
drop policy if exists categories_update on public.categories;
create policy categories_update on public.categories for update to authenticated
    using (user_id = (select auth.uid())::text)
    with check (user_id = (select auth.uid())::text);
drop policy if exists categories_delete on public.categories;
create policy categories_delete on public.categories for delete to authenticated
    using (user_id = (select auth.uid())::text);

drop policy if exists items_select on public.items;
create policy items_select on public.items for select to authenticated
    using (user_id = (select auth.uid())::text);
drop policy if exists items_insert on public.items;
create policy items_insert on public.items for insert to authenticated
    with check (user_id = (select auth.uid())::text);
drop policy if exists items_update on public.items;
create policy items_update on public.items for update to authenticated
    using (user_id = (select auth.uid())::text)
    with check (user_id = (select auth.uid())::text);
drop policy if exists items_delete on public.items;
create policy items_delete on public.items for delete to authenticated
    using (user_id = (select auth.uid())::text);

-- Memberships are written only by the invitation functions; a user sees their own.
drop policy if exists category_members_select on public.category_members;
create policy category_members_select on public.category_members for select to authenticated
    using (user_id = (select auth.uid())::text);

drop policy if exists item_states_select on public.item_states;
create policy item_states_select on public.item_states for select to authenticated
    using (user_id = (select auth.uid())::text);
drop policy if exists item_states_insert on public.item_states;
create policy item_states_insert on public.item_states for insert to authenticated
    with check (user_id = (select auth.uid())::text);
drop policy if exists item_states_update on public.item_states;
create policy item_states_update on public.item_states for update to authenticated
    using (user_id = (select auth.uid())::text)
    with check (user_id = (select auth.uid())::text);
drop policy if exists item_states_delete on public.item_states;
create policy item_states_delete on public.item_states for delete to authenticated
    using (user_id = (select auth.uid())::text);

drop policy if exists invites_select on public.invites;
create policy invites_select on public.invites for select to authenticated
    using (created_by = (select auth.uid())::text);

-- ---------------------------------------------------------------------------------------------------------
-- shared_items: the owner's live items of every live list the caller has joined. The view runs with its
-- owner's rights (the tables' owner, to whom row security does not apply) and does its own filtering on the
-- caller's membership; security_barrier keeps caller-supplied filters from seeing rows before that filter.
-- Items that members saved into someone else's list stay private to them.

create or replace view public.shared_items with (security_barrier = true) as
    select i.id, i.url, i.title, i.note, i.source_domain, i.content_type, i.category_id, i.thumbnail_url,
           i.created_at, i.updated_at, i.deleted_at
    from public.items i
    join public.categories c on c.id = i.category_id and c.user_id = i.user_id
    where c.deleted_at is null
      and exists (select 1 from public.category_members m
                  where m.category_id = c.id and m.user_id = (select auth.uid())::text);

-- ---------------------------------------------------------------------------------------------------------
-- Invitations

-- Creates a code that lets others join the caller's list for seven days.
create or replace function public.create_category_invite(p_category_id text) returns text
    language plpgsql volatile security definer set search_path = ''
as $$
declare
    v_uid text := (select auth.uid())::text;
    -- 32 symbols without the look-alikes I, O, 0 and 1; 256 is a multiple of 32, so every symbol is equally likely.
    v_alphabet constant text := 'ABCDEFGHJKLMNPQRSTUVWXYZ23456789';
    v_bytes bytea;
    v_index integer;
    v_code text;
    v_now bigint := (extract(epoch from clock_timestamp()) * 1000)::bigint;
begin
    if v_uid is null then
        raise exception 'Sign in to invite people to a list.' using errcode = '42501';
    end if;
    if not exists (select 1 from public.categories c
                   where c.id = p_category_id and c.user_id = v_uid and c.deleted_at is null) then
        raise exception 'Only the owner of a list can invite people to it.' using errcode = '42501';
    end if;
    loop
        v_bytes := uuid_send(gen_random_uuid());
        v_code := '';
        -- A random uuid's byte 6 carries the version in its high nibble, leaving only four random bits, so it
        -- is skipped; the low five bits of every other byte used here are random.
        foreach v_index in array array[0, 1, 2, 3, 4, 5, 7, 8] loop
            v_code := v_code || substr(v_alphabet, get_byte(v_bytes, v_index) % 32 + 1, 1);
        end loop;
        begin
            insert into public.invites (code, category_id, created_by, created_at, expires_at)
            values (v_code, p_category_id, v_uid, v_now, v_now + 7 * 24 * 3600 * 1000);
            return v_code;
        exception when unique_violation then
            -- Another invite already has this code; draw again.
        end;
    end loop;
end;
$$;

-- Joins the list behind an invitation code (any letter case) and answers its id.
create or replace function public.redeem_category_invite(p_code text) returns text
    language plpgsql volatile security definer set search_path = ''
as $$
declare
    v_uid text := (select auth.uid())::text;
    v_invite public.invites%rowtype;
    v_owner text;
begin
    if v_uid is null then
        raise exception 'Sign in to join a list.' using errcode = '42501';
    end if;
    select * into v_invite from public.invites where code = upper(btrim(coalesce(p_code, '')));
    if not found then
        raise exception 'This invitation code is not valid.';
    end if;
    if v_invite.expires_at < (extract(epoch from clock_timestamp()) * 1000)::bigint then
        raise exception 'This invitation has expired.';
    end if;
    select c.user_id into v_owner from public.categories c
        where c.id = v_invite.category_id and c.deleted_at is null;
    if not found then
        raise exception 'This list no longer exists.';
    end if;
    -- The owner following their own link simply gets their list back.
    if v_owner <> v_uid then
        insert into public.category_members (category_id, user_id) values (v_invite.category_id, v_uid)
            on conflict do nothing;
    end if;
    return v_invite.category_id;
end;
$$;

-- Ends the caller's membership of a list; the caller's own item states are kept.
create or replace function public.leave_category(p_category_id text) returns void
    language plpgsql volatile security definer set search_path = ''
as $$
declare
    v_uid text := (select auth.uid())::text;
begin
    if v_uid is null then
        raise exception 'Sign in to leave a list.' using errcode = '42501';
    end if;
    delete from public.category_members where category_id = p_category_id and user_id = v_uid;
end;
$$;

-- ---------------------------------------------------------------------------------------------------------
-- Privileges. Signed-in users work through row security; anonymous callers get nothing.

revoke all on public.categories, public.items, public.category_members, public.item_states, public.invites,
    public.shared_items from public, anon, authenticated;
grant select, insert, update, delete on public.categories, public.items, public.item_states to authenticated;
grant select on public.category_members, public.invites, public.shared_items to authenticated;
grant select, insert, update, delete on public.categories, public.items, public.category_members,
    public.item_states, public.invites to service_role;
grant select on public.shared_items to service_role;

revoke all on function public.create_category_invite(text), public.redeem_category_invite(text),
    public.leave_category(text) from public, anon;
grant execute on function public.create_category_invite(text), public.redeem_category_invite(text),
    public.leave_category(text) to authenticated, service_role;
